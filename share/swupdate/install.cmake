# SWUpdate's gpsfw handler. Debian's swupdate loads "swupdate_handlers" through the package.path
# of its Lua (5.3), which holds <prefix>/share/lua/5.3 for both /usr and /usr/local. The
# settings helper goes beside the shared settings library, where the handler looks for it
# (../../gpsfw-receiver from its own folder); the sw-description example goes with the docs.
# The handler names the helper, and the helper the library, by their installed paths, written
# in at install time: a copy of the handler in another Lua folder still finds them.
include(${CMAKE_SOURCE_DIR}/share/gpsfw-receiver/written_in.cmake)
install(FILES ${CMAKE_SOURCE_DIR}/share/swupdate/swupdate_handlers.lua
              ${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw_loader.lua
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lua/5.3)
gpsfw_install_written_in(${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw_handler.lua
                         ${CMAKE_INSTALL_DATADIR}/lua/5.3 "local installed_helper = \""
                         @PREFIX@/${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/gpsfw-swupdate-settings)
gpsfw_install_written_in(${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw-swupdate-settings
                         ${CMAKE_INSTALL_DATADIR}/gpsfw-receiver "installed_lib='"
                         @PREFIX@/${CMAKE_INSTALL_DATADIR}/gpsfw-receiver/gpsfw-receiver-lib.sh PROGRAMS)
install(FILES ${CMAKE_SOURCE_DIR}/share/swupdate/sw-description.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/swupdate)
