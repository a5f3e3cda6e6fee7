# The station as a service: a systemd template, one instance per line of fixtures, with an
# example of its configuration file. The unit names the installed station by its final path,
# which only the installation knows (a package installs under /usr whatever the build's
# prefix), so it is written as it is installed.
if(GPSFW_TOOLS AND NOT WIN32)
  set(GPSFW_UNIT ${CMAKE_BINARY_DIR}/systemd/gpsfwstation@.service)
  install(CODE "
    file(READ \"${CMAKE_SOURCE_DIR}/share/systemd/gpsfwstation@.service.in\" unit)
    string(REPLACE \"@GPSFW_BINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\" unit \"\${unit}\")
    string(REPLACE \"@GPSFW_DOCDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\" unit \"\${unit}\")
    file(WRITE \"${GPSFW_UNIT}\" \"\${unit}\")")
  install(FILES ${GPSFW_UNIT} DESTINATION lib/systemd/system)
  install(FILES ${CMAKE_SOURCE_DIR}/share/systemd/line.conf.example
          DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfwstation)
endif()
