// Renaming or deleting a file at the next restart: MoveFileExA where the
// system offers it, else a line in the "[Rename]" section of WinInit.Ini in
// the Windows directory.
#pragma once

inline constexpr char RestartFileName[] = "WinInit.Ini";

// Schedules existing to become newName ("NUL": be deleted) at the restart;
// nonzero when scheduled.
int RenameAtRestart(const char* existing, const char* newName);
// The WinInit.Ini route alone: 1 when the line is in the file (added or
// already there), 0 when the file could not be edited (it is then as it was)
// or the line would exceed 1024 bytes, or the Windows directory is unknown.
int AddRenameToRestartFile(const char* existing, const char* newName);
