# The station as a service: a systemd template, one instance per line of fixtures, with an
# example of its configuration file.
if(GPSFW_TOOLS AND NOT WIN32)
  set(GPSFW_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
  set(GPSFW_DOCDIR ${CMAKE_INSTALL_FULL_DOCDIR})
  configure_file(${CMAKE_SOURCE_DIR}/share/systemd/gpsfwstation@.service.in
                 ${CMAKE_BINARY_DIR}/systemd/gpsfwstation@.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/systemd/gpsfwstation@.service
          DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
  install(FILES ${CMAKE_SOURCE_DIR}/share/systemd/line.conf.example
          DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfwstation)
endif()
