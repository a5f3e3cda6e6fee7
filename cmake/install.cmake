# Install rules and the Debian package: the programs in bin/, their manual pages gzipped in
# share/man/man1, the README and the note on the SFLD's place in share/doc/gpsfwload, the
# example udev rules for USB serial adapters in share/gpsfwload/udev.
# `cmake --install build --prefix DIR` installs; `cpack -G DEB` in the build directory
# makes the package (scripts/package.sh does both and checks the result).
include(GNUInstallDirs)

set(GPSFW_PROGRAMS gpsfwload)
# The tools and the station are POSIX programs; Windows gets the loader alone.
if(GPSFW_TOOLS AND NOT WIN32)
  list(APPEND GPSFW_PROGRAMS gpsfwsim gpsfwimg gpsfwstation)
endif()

find_program(GPSFW_GZIP gzip)
if(NOT GPSFW_GZIP)
  message(FATAL_ERROR "gzip is needed for the manual pages")
endif()
set(GPSFW_MAN_FILES)
foreach(program ${GPSFW_PROGRAMS})
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  configure_file(${CMAKE_SOURCE_DIR}/man/${program}.1.in ${page} @ONLY)
  # -n leaves name and time out of the archive, so that every build gives the same bytes.
  add_custom_command(OUTPUT ${page}.gz
                     COMMAND ${GPSFW_GZIP} -9nf -k ${page}
                     DEPENDS ${page}
                     COMMENT "Compressing the manual page ${program}(1)")
  list(APPEND GPSFW_MAN_FILES ${page}.gz)
endforeach()
add_custom_target(gpsfw_man ALL DEPENDS ${GPSFW_MAN_FILES})

install(TARGETS ${GPSFW_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${GPSFW_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/man/SFLD.txt
              ${CMAKE_SOURCE_DIR}/share/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The guides the README links to, with the dashboard's picture.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "pending" EXCLUDE)
# Bash completion, one file per program, where bash-completion looks for it by name.
foreach(program ${GPSFW_PROGRAMS})
  install(FILES ${CMAKE_SOURCE_DIR}/share/bash-completion/${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()

# The package is Debian's; a Windows build installs into a folder and stops there.
if(WIN32)
  return()
endif()
# Examples for the administrator to copy to /etc/udev/rules.d: the package leaves the
# host's device handling alone.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/share/gpsfwload/udev/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfwload/udev
        FILES_MATCHING PATTERN "*.rules")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gpsfwload)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware loader for GPS receiver modules on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "gpsfwload updates the firmware of a GPS receiver module over a serial line: it checks
the image, wakes the receiver's boot loader, uploads the second-stage flash loader and
erases and programs the flash, recovering from every fault of the receiver. gpsfwsim
serves a simulated receiver on a pseudo-terminal; gpsfwimg makes and inspects firmware
containers; gpsfwstation flashes one image to many receivers at once, one loader per
port.")
set(CPACK_PACKAGE_CONTACT "gpsfwload maintainers <gpsfwload@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read from the programs' shared libraries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# The fleet integrations (an update system's module, handler or hook, with what it needs)
# each bring their own install rules.
foreach(integration systemd mender swupdate rauc gpsfw-receiver)
  if(EXISTS ${CMAKE_SOURCE_DIR}/share/${integration}/install.cmake)
    include(${CMAKE_SOURCE_DIR}/share/${integration}/install.cmake)
  endif()
endforeach()
