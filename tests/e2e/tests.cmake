# End-to-end installer tests: installers built by lumaveil, run under Wine with
# the driver answering their boxes (tests/e2e/*.sh, one test per case_ function).
# They share the Wine prefix and its Xvfb with the other Wine tests.
add_executable(e2e_archive_edit ${CMAKE_CURRENT_LIST_DIR}/archive_edit.cpp)
target_include_directories(e2e_archive_edit PRIVATE ${CMAKE_SOURCE_DIR})

if(LUMAVEIL_WIN32)
  foreach(script boxes install actions)
    set(path ${CMAKE_CURRENT_LIST_DIR}/${script}.sh)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} cases REGEX "^case_[a-z0-9_]+\\(\\)")
    foreach(line ${cases})
      string(REGEX REPLACE "^case_([a-z0-9_]+)\\(\\).*" "\\1" case ${line})
      add_test(NAME e2e.${script}.${case} COMMAND bash ${path} ${CMAKE_BINARY_DIR} ${case})
      set_tests_properties(e2e.${script}.${case} PROPERTIES
        FIXTURES_REQUIRED wine RESOURCE_LOCK wineprefix LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
    endforeach()
  endforeach()
endif()
