# SWUpdate's gpsfw handler. Debian's swupdate loads "swupdate_handlers" through the package.path
# of its Lua (5.3), which holds <prefix>/share/lua/5.3 for both /usr and /usr/local. The
# settings helper goes beside the shared settings library, where the handler looks for it
# (../../gpsfw-receiver from its own folder); the sw-description example goes with the docs.
install(FILES ${CMAKE_SOURCE_DIR}/share/swupdate/swupdate_handlers.lua
              ${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw_handler.lua
              ${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw_loader.lua
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lua/5.3)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/share/swupdate/gpsfw-swupdate-settings
        DESTINATION ${CMAKE_INSTALL_DATADIR}/gpsfw-receiver)
install(FILES ${CMAKE_SOURCE_DIR}/share/swupdate/sw-description.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/swupdate)
