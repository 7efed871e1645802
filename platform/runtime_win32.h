// The start-up of the installer, which links without the C runtime: what the
// runtime would otherwise do before WinMain. (runtime_win32.cpp holds the
// memory routines the compiler may emit calls to.)
#pragma once

// The arguments behind the program name: skips the name (quoted or not) and
// every character of code 1 to 32 that follows it.
inline const char* SkipProgramName(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}
