# The system module's Wine test programs and their helpers (win32 sub-build).
foreach(helper lv_record lv_windows)
  add_executable(${helper} ${CMAKE_CURRENT_LIST_DIR}/helpers/${helper}.cpp)
  target_link_options(${helper} PRIVATE -static -mwindows)
endforeach()

foreach(name paths activation restart actions windows)
  add_executable(system_${name}_test ${CMAKE_CURRENT_LIST_DIR}/system_${name}_test.cpp ${CMAKE_SOURCE_DIR}/installer/run_state.cpp)
  target_link_libraries(system_${name}_test PRIVATE lv_system)
  target_include_directories(system_${name}_test PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(system_${name}_test PRIVATE -static)
  add_dependencies(system_${name}_test lv_record lv_windows)
endforeach()
