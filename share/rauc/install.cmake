# RAUC's hook for the receiver travels in bundles: it is installed for whoever builds them, with
# examples of the device's system.conf, the bundle's manifest and its gpsfw-options.
# The hook names the library by the path of this installation first (written in at install
# time), then by the usual places, since a bundle's device may have it elsewhere.
include(${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/written_in.cmake)
gpsfw_install_written_in(${CMAKE_SOURCE_DIR}/share/rauc/gpsfw-rauc-hook
                         ${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/rauc "installed_lib='"
                         @PREFIX@/${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/gpsfw-receiver-lib.sh PROGRAMS)
install(FILES ${CMAKE_SOURCE_DIR}/share/rauc/system.conf.example
              ${CMAKE_SOURCE_DIR}/share/rauc/manifest.raucm.example
              ${CMAKE_SOURCE_DIR}/share/rauc/gpsfw-options.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/rauc)
