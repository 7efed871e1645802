# Fuzz paths: always replayed by the host unit tests over the stored seed and
# regression inputs; with LUMAVEIL_FUZZ (clang) also built as libFuzzer
# targets with ASan and UBSan and registered as CTest tests labelled "fuzz".
set(FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(LUMAVEIL_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs as a CTest test")

# The paths and the libraries they need. The manifest parser and the restart
# file edit join when their modules provide a host library.
set(fuzz_path_sources ${FUZZ_DIR}/archive_paths.cpp)
set(fuzz_path_libraries lv_settings lv_archive lv_codec lv_platform)
set(fuzz_path_definitions)
foreach(candidate lv_tool_core lv_tool lumaveil_core)
  if(TARGET ${candidate} AND NOT fuzz_tool_library)
    get_target_property(kind ${candidate} TYPE)
    if(NOT kind STREQUAL "EXECUTABLE")
      set(fuzz_tool_library ${candidate})
    endif()
  endif()
endforeach()
if(fuzz_tool_library)
  list(APPEND fuzz_path_sources ${FUZZ_DIR}/manifest_path.cpp ${FUZZ_DIR}/commands_path.cpp)
  list(APPEND fuzz_path_libraries ${fuzz_tool_library})
  list(APPEND fuzz_path_definitions LV_FUZZ_MANIFEST)
endif()
foreach(candidate lv_system_text lv_system_host lv_system)
  if(TARGET ${candidate} AND NOT fuzz_system_library)
    set(fuzz_system_library ${candidate})
  endif()
endforeach()
if(fuzz_system_library)
  list(APPEND fuzz_path_sources ${FUZZ_DIR}/restart_path.cpp)
  list(APPEND fuzz_path_libraries ${fuzz_system_library})
  list(APPEND fuzz_path_definitions LV_FUZZ_RESTART_EDIT)
endif()

# Replay in the host unit tests (tests/host/fuzz_regressions_test.cpp).
target_sources(unit_tests PRIVATE ${fuzz_path_sources} ${FUZZ_DIR}/path_list.cpp)
target_link_libraries(unit_tests PRIVATE ${fuzz_path_libraries})
target_compile_definitions(unit_tests PRIVATE ${fuzz_path_definitions} LV_FUZZ_INPUTS="${FUZZ_DIR}")

if(NOT LUMAVEIL_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "LUMAVEIL_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++); fuzz targets not built")
  return()
endif()

set(fuzz_target_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
set(fuzz_library_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer -g)

# Instrumented copies of the libraries (name_fuzz), built from the same
# sources with the same settings: the ordinary targets of this build keep
# linking without the fuzzer runtime.
function(lv_fuzz_library lib)
  if(TARGET ${lib}_fuzz)
    return()
  endif()
  get_target_property(dir ${lib} SOURCE_DIR)
  get_target_property(sources ${lib} SOURCES)
  set(absolute)
  foreach(s ${sources})
    if(IS_ABSOLUTE ${s})
      list(APPEND absolute ${s})
    else()
      list(APPEND absolute ${dir}/${s})
    endif()
  endforeach()
  add_library(${lib}_fuzz STATIC EXCLUDE_FROM_ALL ${absolute})
  foreach(property INCLUDE_DIRECTORIES INTERFACE_INCLUDE_DIRECTORIES COMPILE_OPTIONS COMPILE_DEFINITIONS
                   INTERFACE_COMPILE_DEFINITIONS COMPILE_FEATURES)
    get_target_property(value ${lib} ${property})
    if(value)
      set_property(TARGET ${lib}_fuzz PROPERTY ${property} "${value}")
    endif()
  endforeach()
  target_compile_options(${lib}_fuzz PRIVATE ${fuzz_library_flags})
  get_target_property(dependencies ${lib} LINK_LIBRARIES)
  foreach(d ${dependencies})
    if(TARGET ${d} AND d MATCHES "^lv_")
      lv_fuzz_library(${d})
      target_link_libraries(${lib}_fuzz PUBLIC ${d}_fuzz)
    elseif(d)
      target_link_libraries(${lib}_fuzz PUBLIC ${d})
    endif()
  endforeach()
endfunction()

# The tool's imported dependencies, visible here too.
if(fuzz_tool_library)
  find_package(tomlplusplus QUIET)
  find_package(nlohmann_json QUIET)
  find_package(fmt QUIET)
  find_package(CLI11 QUIET)
endif()

foreach(lib ${fuzz_path_libraries})
  lv_fuzz_library(${lib})
endforeach()

# name:function:source:libraries (comma-separated)
set(fuzz_targets
    reader:ReadArchive:archive_paths.cpp:lv_settings
    expand:ExpandAnyStream:archive_paths.cpp:lv_settings
    roundtrip:RoundTripAnyBytes:archive_paths.cpp:lv_settings
    settings:LoadAnySettings:archive_paths.cpp:lv_settings
    verify:VerifyAnyFile:archive_paths.cpp:lv_settings)
if(fuzz_tool_library)
  list(APPEND fuzz_targets manifest:ParseAnyManifest:manifest_path.cpp:${fuzz_tool_library}
                           commands:RunToolCommands:commands_path.cpp:${fuzz_tool_library})
endif()
if(fuzz_system_library)
  list(APPEND fuzz_targets restart_edit:EditAnyRestartFile:restart_path.cpp:${fuzz_system_library})
endif()

set(fuzz_work ${CMAKE_BINARY_DIR}/fuzz-work)
foreach(pair ${fuzz_targets})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 name)
  list(GET pair 1 function)
  list(GET pair 2 source)
  list(GET pair 3 libraries)
  string(REPLACE "," ";" libraries ${libraries})
  list(TRANSFORM libraries APPEND _fuzz)
  add_executable(fuzz_${name} ${FUZZ_DIR}/fuzz_target.cpp ${FUZZ_DIR}/${source})
  target_compile_definitions(fuzz_${name} PRIVATE FUZZ_PATH=${function})
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_${name} PRIVATE ${fuzz_target_flags})
  target_link_options(fuzz_${name} PRIVATE ${fuzz_target_flags})
  target_link_libraries(fuzz_${name} PRIVATE ${libraries})

  # New inputs go to the build tree; the committed seeds are only read.
  # Findings land in fuzz-work/NAME-crash-*: copy them to regressions/NAME/.
  add_test(NAME fuzz.${name}
           COMMAND fuzz_${name} -max_total_time=${LUMAVEIL_FUZZ_SECONDS} -timeout=20
                   -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1
                   -artifact_prefix=${fuzz_work}/${name}-
                   ${fuzz_work}/corpus-${name} ${FUZZ_DIR}/corpus/${name})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 900
                       FIXTURES_REQUIRED fuzz_work)
  file(MAKE_DIRECTORY ${fuzz_work}/corpus-${name})
endforeach()
add_test(NAME fuzz.prepare COMMAND ${CMAKE_COMMAND} -E make_directory ${fuzz_work})
set_tests_properties(fuzz.prepare PROPERTIES LABELS fuzz FIXTURES_SETUP fuzz_work)

# Everything "make fuzz" builds.
add_custom_target(fuzz_targets)
foreach(pair ${fuzz_targets})
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 name)
  add_dependencies(fuzz_targets fuzz_${name})
endforeach()
