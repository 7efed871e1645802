# The installer program's size and imports. Prints its size, how large its
# program is packed and unpacked, its sections and imported functions, and
# fails when the program is larger than LIMIT bytes, imports from a DLL other
# than KERNEL32, USER32 and ADVAPI32, imports a function that is not on the
# list below of functions that Windows 95 and NT 4.0 both have, or is not
# marked as a Windows 4.0 GUI program.
#   cmake -DEXE=installer.exe -DOBJDUMP=i686-w64-mingw32-objdump -DLIMIT=16384 -P installer_size.cmake

# Functions of the three DLLs known in Windows 95 and NT 4.0 (on Windows 95
# some, like WritePrivateProfileStringW and MoveFileExA, are exported stubs
# that fail; the installer calls those only where it is prepared for that).
# Extend it only after checking the platform documentation.
set(allowed_KERNEL32
  CloseHandle CreateFileA CreateFileMappingA CreateProcessA DeleteFileA ExitProcess ExpandEnvironmentStringsA
  FindClose FindFirstFileA FindResourceA FreeLibrary GetCommandLineA GetCurrentProcessId GetEnvironmentVariableA
  GetFileAttributesA GetFileSize GetLastError GetModuleFileNameA GetModuleHandleA GetPrivateProfileStringA
  GetProcAddress GetShortPathNameA GetSystemDirectoryA GetTempPathA GetTickCount GetVersionExA
  GetWindowsDirectoryA LoadLibraryA MapViewOfFile MoveFileA MoveFileExA MulDiv ReadFile SetEndOfFile
  SetFileAttributesA SetFilePointer Sleep UnmapViewOfFile WinExec WriteFile WritePrivateProfileStringA
  WritePrivateProfileStringW lstrcmpA lstrcmpiA lstrcpyA lstrlenA)
set(allowed_USER32
  BeginPaint BringWindowToTop CharLowerA CharUpperA CreateWindowExA DefWindowProcA DestroyWindow DialogBoxParamA
  DispatchMessageA EnableWindow EndDialog EndPaint EnumWindows FindWindowA GetClassNameA GetClientRect
  GetDesktopWindow GetDlgItem GetDlgItemTextA GetForegroundWindow GetMessageA GetParent GetSystemMetrics GetWindow
  GetWindowLongA GetWindowRect GetWindowTextA GetWindowThreadProcessId InvalidateRect IsDialogMessageA IsIconic
  IsWindow IsWindowVisible KillTimer LoadCursorA LoadIconA LoadImageA LoadStringA MessageBoxA MessageBoxIndirectA
  MoveWindow PeekMessageA PostMessageA PostQuitMessage RegisterClassExA SendDlgItemMessageA SendMessageA
  SetDlgItemTextA SetForegroundWindow SetTimer SetWindowPos SetWindowTextA ShowWindow SystemParametersInfoA
  TranslateMessage UpdateWindow wsprintfA)
set(allowed_ADVAPI32
  RegCloseKey RegCreateKeyA RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegOpenKeyA RegOpenKeyExA
  RegQueryValueExA RegSetValueExA)

cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "${EXE} is not built")
endif()
execute_process(COMMAND ${OBJDUMP} -p -h "${EXE}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()

set(problems "")
file(SIZE "${EXE}" size)
message("installer.exe: ${size} bytes (limit ${LIMIT})")
# The packing record opens section .code: the packed size, the program's
# address and its size (little-endian words).
if(dump MATCHES "\\.code +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+)")
  math(EXPR record_at "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT DECIMAL)
  file(READ "${EXE}" record OFFSET ${record_at} LIMIT 12 HEX)
  string(REGEX REPLACE "^(..)(..)(..)(..)(........)(..)(..)(..)(..)$" "\\4\\3\\2\\1;\\9\\8\\7\\6" words "${record}")
  list(GET words 0 packed_size)
  list(GET words 1 program_size)
  math(EXPR packed_size "0x${packed_size}" OUTPUT_FORMAT DECIMAL)
  math(EXPR program_size "0x${program_size}" OUTPUT_FORMAT DECIMAL)
  message("  program of ${program_size} bytes, stored packed in ${packed_size}")
endif()
if(size GREATER LIMIT)
  math(EXPR over "${size} - ${LIMIT}")
  list(APPEND problems "larger than ${LIMIT} bytes, by ${over}")
endif()

string(REPLACE "\n" ";" lines "${dump}")
foreach(line IN LISTS lines)
  if(line MATCHES "^ +[0-9]+ (\\.[a-z]+) +([0-9a-f]+) ")
    math(EXPR section_size "0x${CMAKE_MATCH_2}" OUTPUT_FORMAT DECIMAL)
    message("  section ${CMAKE_MATCH_1}: ${section_size} bytes")
  endif()
endforeach()

foreach(field MajorSubsystemVersion MinorSubsystemVersion MajorOSystemVersion MinorOSystemVersion Subsystem)
  if(dump MATCHES "\n${field}[ \t]+([0-9a-f]+)")
    set(${field} ${CMAKE_MATCH_1})
  endif()
endforeach()
message("  subsystem ${Subsystem}, version ${MajorSubsystemVersion}.${MinorSubsystemVersion}, "
        "OS version ${MajorOSystemVersion}.${MinorOSystemVersion}")
if(NOT Subsystem STREQUAL "00000002")
  list(APPEND problems "not a Windows GUI program")
endif()
if(NOT MajorSubsystemVersion STREQUAL "4" OR NOT MinorSubsystemVersion STREQUAL "0"
   OR NOT MajorOSystemVersion STREQUAL "4" OR NOT MinorOSystemVersion STREQUAL "0")
  list(APPEND problems "not marked as a Windows 4.0 program")
endif()

# Import tables: "DLL Name: X", then one line per function (hint, name).
set(dll "")
set(dlls "")
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: ([A-Za-z0-9_.]+)")
    string(TOUPPER "${CMAKE_MATCH_1}" dll)
    string(REGEX REPLACE "\\.DLL$" "" dll "${dll}")
    list(APPEND dlls ${dll})
    set(functions_${dll} "")
    if(NOT dll MATCHES "^(KERNEL32|USER32|ADVAPI32)$")
      list(APPEND problems "imports from ${dll}")
    endif()
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z0-9_]+)$")
    list(APPEND functions_${dll} ${CMAKE_MATCH_1})
    set(function ${CMAKE_MATCH_1})
    if(NOT function IN_LIST allowed_${dll})
      list(APPEND problems "${dll} ${function} is not on the list of functions of Windows 95 and NT 4.0")
    endif()
  elseif(line STREQUAL "")
    set(dll "")
  endif()
endforeach()
foreach(dll IN LISTS dlls)
  list(LENGTH functions_${dll} count)
  string(REPLACE ";" " " names "${functions_${dll}}")
  message("  ${dll}.DLL (${count}): ${names}")
endforeach()

if(problems)
  foreach(problem IN LISTS problems)
    message("FAIL: ${problem}")
  endforeach()
  message(FATAL_ERROR "installer.exe does not meet its size and import limits")
endif()
