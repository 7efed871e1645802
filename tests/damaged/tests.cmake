# The damaged-installer suite: a host helper that damages a built installer
# with the archive library, and one CTest test that runs every variant under
# Wine (tests/damaged/variants).
add_executable(lv_damage ${CMAKE_CURRENT_LIST_DIR}/damage.cpp)
target_link_libraries(lv_damage PRIVATE lv_settings lv_archive lv_codec lv_platform)
target_include_directories(lv_damage PRIVATE ${CMAKE_SOURCE_DIR})

if(LUMAVEIL_WIN32)
  add_test(NAME damaged.installers COMMAND ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(damaged.installers PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix
                       TIMEOUT 900 LABELS "damaged;wine")
endif()
