# Windows helpers of the end-to-end installer tests (tests/e2e): the driver
# that reads and answers the installer's boxes, and the recorder that stands in
# for the screensaver and for the programs the installer starts.
add_executable(e2e_driver ${CMAKE_SOURCE_DIR}/tests/e2e/driver.cpp)
target_link_libraries(e2e_driver PRIVATE comctl32)
target_link_options(e2e_driver PRIVATE -static -s)

add_executable(e2e_recorder WIN32 ${CMAKE_SOURCE_DIR}/tests/e2e/recorder.cpp)
target_link_options(e2e_recorder PRIVATE -static -s)
