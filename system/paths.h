// Paths in the Windows directory, where the installed screensaver lives. Both
// operations return one shared PathCapacity-byte buffer that the next call of
// either overwrites; it keeps room for a caller to append " /s". A directory
// and name that do not fit give an empty path, so whatever uses it fails.
#pragma once

// The Windows directory ("c:\winnt" when unknown), a backslash and name.
char* WindowsPath(const char* name);
// The same path, with name replaced by the file's 8.3 alternate name when
// name is not in 8.3 form and the file system has one.
char* ShortWindowsPath(const char* name);
