# The installer program's tests (host build): its size and imports, and the
# Wine tests of its modules.
find_program(LUMAVEIL_MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
set(LUMAVEIL_INSTALLER_SIZE_LIMIT 16384 CACHE STRING "Size in bytes past which the installer program (without payload) fails its size check")
add_test(NAME installer.size
         COMMAND ${CMAKE_COMMAND} -DEXE=${WIN32_DIR}/installer.exe -DOBJDUMP=${LUMAVEIL_MINGW_OBJDUMP}
                 -DLIMIT=${LUMAVEIL_INSTALLER_SIZE_LIMIT} -P ${CMAKE_CURRENT_LIST_DIR}/installer_size.cmake)
set_tests_properties(installer.size PROPERTIES LABELS size)

add_wine_test(installer.ui installer_ui_test)
add_wine_test(installer.install installer_install_test)
