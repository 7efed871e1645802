# The installer's Wine test programs (win32 sub-build). They link the
# installer's modules as libraries, with the installer's resources.
foreach(name ui install)
  add_executable(installer_${name}_test ${CMAKE_CURRENT_LIST_DIR}/installer_${name}_test.cpp)
  target_link_libraries(installer_${name}_test PRIVATE lv_installer lv_resources)
  target_link_options(installer_${name}_test PRIVATE -static)
endforeach()
# Whole installations are made from the installer program itself.
add_dependencies(installer_install_test installer)
