# Wine tests, registered in the host build; the programs come from the win32
# sub-build in build/win32. All of them share one prefix and one Xvfb, set up
# and torn down by the "wine" fixture; they run one at a time because they
# change the prefix's registry and system.ini.
if(LUMAVEIL_WIN32)
  set(WINE_HARNESS ${CMAKE_SOURCE_DIR}/tests/wine/harness.sh)
  set(WIN32_DIR ${CMAKE_BINARY_DIR}/win32)

  add_test(NAME wine.setup COMMAND ${WINE_HARNESS} ${CMAKE_BINARY_DIR} setup)
  set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine.cleanup COMMAND ${WINE_HARNESS} ${CMAKE_BINARY_DIR} cleanup)
  set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine)

  # add_wine_test(NAME program [args...]): runs build/win32/program.exe.
  function(add_wine_test name program)
    add_test(NAME wine.${name} COMMAND ${WINE_HARNESS} ${CMAKE_BINARY_DIR} run ${WIN32_DIR}/${program}.exe ${ARGN})
    set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix TIMEOUT 120)
  endfunction()

  add_wine_test(portable portable_test)

  file(GLOB wine_test_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.tests.cmake)
  foreach(f ${wine_test_scripts})
    include(${f})
  endforeach()
endif()
