-- SWUpdate loads this module by name at start-up, from Lua's package.path. The receiver's
-- handler lives in its own module so that a device with handlers of its own can require it
-- from its swupdate_handlers.lua instead of installing this one.
require("gpsfw_handler")
