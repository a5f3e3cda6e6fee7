# Mender: the gpsfw-receiver Update Module where the client looks for modules, and the
# inventory script where the client runs its inventory scripts. Both source
# share/gpsfw-receiver/gpsfw-receiver-lib.sh, installed with them.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/share/mender/modules/v3/gpsfw-receiver
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mender/modules/v3)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/share/mender/inventory/mender-inventory-gpsfw-receiver
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mender/inventory)
install(FILES ${CMAKE_SOURCE_DIR}/share/mender/gpsfw-receiver.conf.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mender)
