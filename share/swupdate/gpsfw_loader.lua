-- gpsfwload for SWUpdate's gpsfw handler: runs the loader on one image and follows the events
-- it writes on standard output, telling the caller each phase and how far the programming has
-- come, and keeping the events in a file beside the progress log. Knows nothing of SWUpdate.

local M = {}

-- The loader's exit statuses, for a run that ended before its events gave a reason.
local STATUS_TEXT = {
  [2] = "the loader refused its command line",
  [127] = "the loader could not be run",
  [247] = "the update completed but the state file could not be written",
  [248] = "the update did not complete in time (give-up-after)",
  [250] = "no image given",
  [251] = "the progress log could not be written",
  [253] = "the image or its SFLD is unusable",
  [254] = "the serial port is unusable",
}

-- TEXT quoted for the shell.
function M.quote(text)
  return "'" .. (tostring(text):gsub("'", "'\\''")) .. "'"
end
local quote = M.quote

-- Runs COMMAND through the shell; its standard output as one string, and its exit status.
function M.capture(command)
  local pipe = io.popen(command, "r")
  if not pipe then return "", 127 end
  local output = pipe:read("a")
  local _, how, code = pipe:close()
  if how == "signal" then code = 128 + code end
  return output, code
end

-- The value of KEY in one line of the loader's events, for the progress they show: a string
-- with its escapes decoded, or the text of a number; nil when the line does not hold KEY.
-- The failure's reason comes from the plain line of --reason-file instead.
local function json_field(line, key)
  local _, last = line:find('"' .. key .. '":', 1, true)
  if not last then return nil end
  local at = last + 1
  if line:sub(at, at) ~= '"' then return line:match("^(-?[%d.]+)", at) end
  local parts = {}
  at = at + 1
  while at <= #line do
    local c = line:sub(at, at)
    if c == '"' then return table.concat(parts) end
    if c == "\\" then
      at = at + 1
      c = line:sub(at, at)
      if c == "n" or c == "r" or c == "t" then
        c = " "
      elseif c == "u" then
        c = "?"
        at = at + 4
      end
    end
    parts[#parts + 1] = c
    at = at + 1
  end
  return nil
end

-- The reason in the one line of --reason-file, "CODE MESSAGE", as "CODE: MESSAGE"; nil when
-- the file is missing or empty.
local function read_reason(path)
  local file = io.open(path, "r")
  if not file then return nil end
  local line = file:read("l")
  file:close()
  if not line or line == "" then return nil end
  local code, message = line:match("^(%S+) (.*)$")
  if code and message ~= "" then return code .. ": " .. message end
  return line
end

-- Runs the loader and follows its events until it ends. OPTIONS:
--   loader, image, log, events  the program, the image, the progress log, the events file
--   reason                      the file for the failure's reason (--reason-file)
--   give_up_after               seconds
--   port                        the serial port; nil or "" for the loader's default
--   state                       the state file to record the image in once it is installed;
--                               nil to leave the state as it is
-- OBSERVER's functions, each optional: phase(NAME) as the loader enters a phase;
-- programmed(PERCENT) as the flash records are accepted.
-- Returns the loader's exit status and, when it failed, its reason: the reason code and
-- message of --reason-file, or what the status means when the loader ended before saying.
function M.run(options, observer)
  local command = quote(options.loader) .. " -i " .. quote(options.image)
    .. " -l " .. quote(options.log) .. " --events - --give-up-after "
    .. quote(options.give_up_after)
  if options.port and options.port ~= "" then command = command .. " -p " .. quote(options.port) end
  if options.state then command = command .. " --state " .. quote(options.state) end
  command = command .. " --reason-file " .. quote(options.reason)
  -- A stale reason must not be lent to a run that wrote none.
  os.remove(options.reason)
  command = command .. " </dev/null"

  local events = io.open(options.events, "w")
  local pipe = io.popen(command, "r")
  if not pipe then
    if events then events:close() end
    return 127, STATUS_TEXT[127]
  end
  local records = nil
  local last_percent = -1
  for line in pipe:lines() do
    if events then
      events:write(line, "\n")
      events:flush()
    end
    local kind = json_field(line, "type")
    if kind == "start" then
      records = tonumber(json_field(line, "records"))
    elseif kind == "phase" then
      if observer.phase then observer.phase(json_field(line, "phase") or "?") end
    elseif kind == "record" and records and records > 0 then
      local index = tonumber(json_field(line, "index"))
      if json_field(line, "stage") == "flash" and index and index >= 0
        and json_field(line, "verdict") == "accepted" then
        local percent = math.floor((index + 1) * 100 / records)
        if percent ~= last_percent and observer.programmed then observer.programmed(percent) end
        last_percent = percent
      end
    end
  end
  if events then events:close() end
  local _, how, status = pipe:close()
  if how == "signal" then status = 128 + status end
  local reason = read_reason(options.reason)
  if status ~= 0 and not reason then
    reason = STATUS_TEXT[status]
      or (status > 128 and status < 247 and "the loader was stopped by signal " .. (status - 128))
      or "the loader gave no reason"
  end
  return status, reason
end

-- True for the statuses after which the receiver may hold part of the new image: the loader
-- gave up, or was stopped.
function M.may_have_written(status)
  return status == 248 or (status > 128 and status < 247)
end

return M
