# RAUC's hook for the receiver travels in bundles: it is installed for whoever builds them, with
# examples of the device's system.conf, the bundle's manifest and its gpsfw-options.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/share/rauc/gpsfw-rauc-hook
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/rauc)
install(FILES ${CMAKE_SOURCE_DIR}/share/rauc/system.conf.example
              ${CMAKE_SOURCE_DIR}/share/rauc/manifest.raucm.example
              ${CMAKE_SOURCE_DIR}/share/rauc/gpsfw-options.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/rauc)
