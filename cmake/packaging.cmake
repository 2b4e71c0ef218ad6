# What `cmake --install` puts where the platform expects it, and the packages
# CPack makes of that: a Debian package on Linux, a zip from a Windows build.
include(GNUInstallDirs)

if(WIN32)
  # The zip holds the program and its two documents side by side.
  install(TARGETS procloop RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "procloop-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS procloop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/procloop.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # procloop_<version>_amd64.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # The run-time libraries as dpkg-shlibdeps finds them in the binary, not a list kept by hand,
  # and those the program opens itself on first use, which it cannot see there.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpulse0, libxcb1, libxcb-res0")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # Below the summary line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "procloop records what one process and its descendants play (or everything
else) from a PulseAudio or PipeWire server and writes it to standard output
as interleaved 32-bit float samples, or as a WAVE file.")
endif()

set(CPACK_PACKAGE_NAME procloop)
set(CPACK_PACKAGE_VENDOR "the procloop developers")
set(CPACK_PACKAGE_CONTACT "the procloop developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Record the audio of one process tree as raw float samples")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
include(CPack)
