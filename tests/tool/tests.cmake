# Tests of the lumaveil tool: one GoogleTest binary that runs the built
# lumaveil as a subprocess and calls the tool's functions directly.
file(GLOB tool_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
add_executable(tool_tests ${tool_test_sources})
target_link_libraries(tool_tests PRIVATE lv_tool GTest::gtest_main)
target_compile_definitions(tool_tests PRIVATE LUMAVEIL_BINARY="$<TARGET_FILE:lumaveil>"
                                              LUMAVEIL_VERSION="${PROJECT_VERSION}")
add_dependencies(tool_tests lumaveil)
# The packing of the installer program, on the win32 build's image.
target_compile_definitions(tool_tests PRIVATE PACK_INSTALLER_BINARY="$<TARGET_FILE:pack_installer>")
if(LUMAVEIL_WIN32)
  target_compile_definitions(tool_tests PRIVATE LUMAVEIL_WIN32_DIR="${CMAKE_BINARY_DIR}/win32")
  add_dependencies(tool_tests installer_packed)
endif()
gtest_discover_tests(tool_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS host)
