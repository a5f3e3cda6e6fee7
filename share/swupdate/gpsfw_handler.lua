-- SWUpdate handler "gpsfw": writes the GPS receiver's firmware with gpsfwload.
--
-- An image entry of type "gpsfw" in sw-description names a firmware image (a container or an
-- S-record file). SWUpdate has checked the image against the SHA-256 that the signed
-- sw-description gives before the handler sees it; the handler copies it to a file of its
-- own, runs the loader on it and follows the loader's events: each programmed record moves
-- SWUpdate's progress, and a failed run returns 1 with the loader's own reason in SWUpdate's
-- log.
--
-- Settings come from the device's receiver settings file (/etc/gpsfw-receiver.conf, or the
-- file GPSFW_RECEIVER_CONF names), read by gpsfw-swupdate-settings through the shared
-- library. An image entry's properties override them for that image:
--   port               the receiver's serial port
--   give-up-after      seconds after which an update that has not completed is given up
--   state              the state file recording what the receiver runs
--   skip-if-installed  "true": leave the receiver alone when the state file says it runs this
--                      very image. Off by default: the receiver cannot report its firmware, so
--                      the state file alone is no proof of what its flash holds.
--
-- When a run fails after the receiver may have been written (the loader gave up, or was
-- stopped), the receiver's flash may hold part of the new image: the handler then flashes the
-- image the state file says it ran before, from the copy the loader kept, so that the
-- receiver runs a whole firmware again. The state file is left naming that image.

local swupdate = require("swupdate")
local loader = require("gpsfw_loader")

local M = {}
local quote, capture = loader.quote, loader.capture

-- The folder this file was loaded from: the settings helper sits beside it in the source
-- tree, and in <prefix>/share/gpsfw-receiver once installed (this file being in
-- <prefix>/share/lua/5.x).
local function own_folder()
  local source = debug.getinfo(1, "S").source
  if source:sub(1, 1) == "@" then return source:sub(2):match("^(.*)/[^/]*$") or "." end
  return "."
end

local function readable(path)
  local file = io.open(path, "r")
  if file then
    file:close()
    return true
  end
  return false
end

-- The helper's installed path, written in at install time so that a copy of the handler in
-- another Lua folder finds it; empty in the source tree.
local installed_helper = ""

local function settings_helper()
  local named = os.getenv("GPSFW_SWUPDATE_SETTINGS")
  if named and named ~= "" then return named end
  if installed_helper ~= "" and readable(installed_helper) then return installed_helper end
  local here = own_folder()
  for _, candidate in ipairs({
    here .. "/gpsfw-swupdate-settings",
    here .. "/../../gpsfw-receiver/gpsfw-swupdate-settings",
  }) do
    if readable(candidate) then return candidate end
  end
  return nil
end

local function fail(format, ...)
  swupdate.error("gpsfw: " .. format, ...)
  return 1
end

-- The image entry's property NAME: nil when absent, or false and a reason when it is given
-- more than once.
local function property(image, name)
  local value = (image.properties or {})[name]
  if type(value) == "table" then return false, name .. " is given more than once" end
  return value
end

local function valid_seconds(text)
  if not tostring(text):match("^%d+$") then return false end
  local seconds = tonumber(text)
  return seconds >= 1 and seconds <= 86400
end

-- The receiver's settings with the image entry's properties over them, or nil and a reason.
local function settings_for(image)
  local overrides = {}
  for _, name in ipairs({ "port", "give-up-after", "state", "skip-if-installed" }) do
    local value, why = property(image, name)
    if value == false then return nil, why end
    overrides[name] = value
  end
  if overrides["port"] == "" then return nil, "the property port is empty" end
  if overrides["give-up-after"] and not valid_seconds(overrides["give-up-after"]) then
    return nil, "the property give-up-after must be a whole number of seconds from 1 to 86400, not '"
      .. overrides["give-up-after"] .. "'"
  end
  if overrides["state"] and overrides["state"]:sub(1, 1) ~= "/" then
    return nil, "the property state must be an absolute path, not '" .. overrides["state"] .. "'"
  end
  local skip = overrides["skip-if-installed"] or "false"
  if skip == "true" then
    skip = true
  elseif skip == "false" then
    skip = false
  else
    return nil, "the property skip-if-installed must be true or false, not '" .. skip .. "'"
  end

  local helper = settings_helper()
  if not helper then
    return nil, "gpsfw-swupdate-settings is missing (beside " .. own_folder() .. " or in GPSFW_SWUPDATE_SETTINGS)"
  end
  local output, status =
    capture(quote(helper) .. " " .. quote(overrides["state"] or "") .. " 2>&1 </dev/null")
  if status ~= 0 then
    return nil, "the receiver settings are unusable: " .. output:gsub("\n+$", ""):gsub("\n", "; ")
  end
  local settings = {}
  for key, value in output:gmatch("([%w-]+)=([^\n]*)") do settings[key] = value end
  for key, value in pairs(overrides) do settings[key] = value end
  settings["skip-if-installed"] = skip
  return settings
end

local function file_sha256(path)
  local output, status = capture("sha256sum " .. quote(path) .. " 2>/dev/null")
  if status ~= 0 then return nil end
  return output:match("^(%x+)")
end

-- The loader on IMAGE_PATH, its phases in SWUpdate's log and its programming as SWUpdate's
-- progress. The progress log, the events and the failure's reason go to
-- LOG-DIR/gpsfwload.log, LOG-DIR/events.jsonl and LOG-DIR/reason, as the other update systems
-- write them; a rollback's to gpsfwload-rollback.log, events-rollback.jsonl and
-- reason-rollback, so that the failed run's stay. With
-- KEEP_STATE the loader records the image in the state file once it is installed.
local function run_loader(settings, image_path, name, keep_state)
  local suffix = name == "" and "" or "-" .. name
  return loader.run({
    loader = settings.loader,
    image = image_path,
    log = settings["log-dir"] .. "/gpsfwload" .. suffix .. ".log",
    events = settings["log-dir"] .. "/events" .. suffix .. ".jsonl",
    reason = settings["log-dir"] .. "/reason" .. suffix,
    give_up_after = settings["give-up-after"],
    port = settings.port,
    state = keep_state and settings.state or nil,
  }, {
    phase = function(phase) swupdate.info("gpsfw: %s", phase) end,
    programmed = function(percent) swupdate.progress_update(percent) end,
  })
end

-- After a failed run that may have written part of the new image: the image the receiver ran
-- before, flashed again from the copy the loader kept.
local function roll_back(settings)
  local copy = settings["installed-image"]
  if not copy or not readable(copy) then
    swupdate.error("gpsfw: no copy of the image the receiver ran before (state %s): the receiver is left as the failed run left it",
      settings.state)
    return
  end
  swupdate.warn("gpsfw: rolling the receiver back to %s", copy)
  local status, reason = run_loader(settings, copy, "rollback", false)
  if status == 0 then
    swupdate.warn("gpsfw: the receiver runs the image before the update again (%s)", copy)
  else
    swupdate.error("gpsfw: rolling back failed: %s (loader status %d); the receiver needs an update",
      reason, status)
  end
end

function M.install(image)
  local name = image.filename or "?"
  local settings, why = settings_for(image)
  if not settings then return fail("%s: %s", name, why) end
  for _, folder in ipairs({ settings["log-dir"], (settings.state:match("^(.*)/[^/]*$")) }) do
    if folder and folder ~= "" and not os.execute("mkdir -p " .. quote(folder)) then
      return fail("%s: cannot create the folder %s", name, folder)
    end
  end

  local tmpdir = swupdate.tmpdir():gsub("/*$", "/")
  local scratch, status = capture("mktemp " .. quote(tmpdir .. "gpsfw-image.XXXXXX"))
  scratch = scratch:gsub("\n$", "")
  if status ~= 0 or scratch == "" then
    return fail("%s: cannot make a temporary file in %s", name, tmpdir)
  end
  local copied, copy_error = image:copy2file(scratch)
  if copied ~= 0 then
    os.remove(scratch)
    return fail("%s: the image could not be extracted: %s", name, tostring(copy_error))
  end

  if settings["skip-if-installed"] then
    local sha = file_sha256(scratch)
    if sha and sha == settings["installed-sha256"] then
      os.remove(scratch)
      swupdate.info("gpsfw: %s is installed already (state %s) and the image asks to skip it",
        name, settings.state)
      swupdate.progress_update(100)
      return 0
    end
  end

  swupdate.info("gpsfw: flashing %s to the receiver on %s (giving up after %s s)", name,
    settings.port ~= "" and settings.port or "the loader's default port", settings["give-up-after"])
  local loader_status, reason = run_loader(settings, scratch, "", true)
  os.remove(scratch)
  if loader_status == 0 then
    swupdate.progress_update(100)
    swupdate.info("gpsfw: the receiver now runs %s", name)
    return 0
  end
  swupdate.error("gpsfw: update failed: %s (loader status %d); progress log %s/gpsfwload.log",
    reason, loader_status, settings["log-dir"])
  if loader.may_have_written(loader_status) then roll_back(settings) end
  return 1
end

swupdate.register_handler("gpsfw", M.install, swupdate.HANDLER_MASK.IMAGE_HANDLER)

return M
