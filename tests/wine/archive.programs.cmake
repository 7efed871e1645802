# The archive's Wine test program (win32 sub-build).
add_executable(archive_files_test ${CMAKE_CURRENT_LIST_DIR}/archive_files_test.cpp)
target_link_libraries(archive_files_test PRIVATE lv_settings lv_archive lv_codec lv_platform)
target_include_directories(archive_files_test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(archive_files_test PRIVATE -static)
