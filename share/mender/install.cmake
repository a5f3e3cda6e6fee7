# Mender: the gpsfw-receiver Update Module where the client looks for modules, and the
# inventory script where the client runs its inventory scripts. Both source
# share/gpsfw-receiver/gpsfw-receiver-lib.sh, installed with them, by the path written into
# them here: a copy of either into the client's own folders works from any prefix.
include(${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/written_in.cmake)
set(GPSFW_RECEIVER_LIB_INSTALLED @PREFIX@/${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/gpsfw-receiver-lib.sh)
gpsfw_install_written_in(${CMAKE_SOURCE_DIR}/share/mender/modules/v3/gpsfw-receiver
                         ${CMAKE_INSTALL_DATADIR}/mender/modules/v3
                         "installed_lib='" ${GPSFW_RECEIVER_LIB_INSTALLED} PROGRAMS)
gpsfw_install_written_in(${CMAKE_SOURCE_DIR}/share/mender/inventory/mender-inventory-gpsfw-receiver
                         ${CMAKE_INSTALL_DATADIR}/mender/inventory
                         "installed_lib='" ${GPSFW_RECEIVER_LIB_INSTALLED} PROGRAMS)
install(FILES ${CMAKE_SOURCE_DIR}/share/mender/gpsfw-receiver.conf.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mender)
