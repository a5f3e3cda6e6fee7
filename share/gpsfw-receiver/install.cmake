# The receiver settings library shared by the fleet integrations, and an example of the
# settings file for the administrator to copy to /etc/gpsfw-receiver.conf.
install(FILES ${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/gpsfw-receiver-lib.sh
              ${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/gpsfw-receiver.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfw-receiver)
