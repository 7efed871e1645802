// The text work of the system module that needs no Windows: name tests, path
// and command-line assembly, and the edit of the restart file. Portable, so
// the host tests reach every branch; the Win32 modules call these.
#pragma once
#include <cstdint>

inline constexpr int32_t PathCapacity = 260;     // the shared Windows-directory path buffer
inline constexpr int32_t PathSuffixRoom = 3;     // callers append " /s" in place
extern const char RenameHeader[];  // "[Rename]\r\n"
inline constexpr int32_t RenameHeaderLength = 10;
inline constexpr int32_t RenameLineCapacity = 1024;

// 1-based position of the first occurrence of pattern in text, ASCII letters
// compared without case; 0 when absent. An empty pattern is found at 1.
int32_t FindTextNoCase(const char* text, const char* pattern);

// True when name is in 8.3 form: up to 8 name characters (digits, ASCII
// letters, underscore), optionally one separator (46..127) and up to 3 more.
bool IsShortFileName(const char* name);

// Appends from to the text in to (capacity bytes) when all of it fits;
// otherwise leaves to unchanged and returns false.
bool AppendText(char* to, int32_t capacity, const char* from);

// The texts a to d one after the other into to (capacity bytes) when all of
// them fit; otherwise to becomes empty. Returns the length, 0 when it did not
// fit.
int32_t JoinTexts(char* to, int32_t capacity, const char* a, const char* b, const char* c = "", const char* d = "");

// Completes the directory held in path (directoryLength characters, the
// result of GetWindowsDirectoryA) with a backslash unless it ends in one, and
// name, keeping reserve bytes free behind the terminating NUL. When it does
// not fit (a directory result of capacity or more included), path becomes
// empty and the result is false.
bool AppendFileName(char* path, int32_t capacity, uint32_t directoryLength, const char* name, int32_t reserve);

// WindowsPath's assembly in a PathCapacity buffer: a directory result of 0
// stands for "c:\winnt"; room for " /s" is kept. False and an empty path
// when the whole does not fit.
bool BuildWindowsPath(char* path, uint32_t directoryLength, const char* name);

// The command line for a registered open command: its first "%*" becomes two
// spaces, then its first "%1" becomes path, or, with no "%1", path follows
// after a space. False and an empty line when it does not fit capacity bytes.
bool BuildCommandLine(char* line, int32_t capacity, const char* command, const char* path);

// The restart-file line "newName=existing\r\n" in a RenameLineCapacity
// buffer; its length, or 0 (and an empty line) when it does not fit.
int32_t FormatRenameLine(char* line, const char* newName, const char* existing);

// Adds line (lineLength bytes, NUL-terminated) to the "[Rename]" section of
// the restart file's content: inserted right after the header, left alone
// when the section already holds it (any letter case), or appended after a
// new header at the end. content has room for size + RenameHeaderLength +
// lineLength bytes, and the bytes from size on are zero. Returns the new size.
int32_t AddRenameLine(char* content, int32_t size, const char* line, int32_t lineLength);
