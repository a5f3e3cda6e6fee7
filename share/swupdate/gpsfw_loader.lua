-- gpsfwload for SWUpdate's gpsfw handler: runs the loader on one image and follows its plain
-- progress lines (--progress), telling the caller each step and how far the programming has
-- come; the loader keeps its events in a file beside the progress log. Knows nothing of
-- SWUpdate, and reads no JSON: the reason of a failure is the plain line of --reason-file.

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

-- One of the loader's plain progress lines ("0:06  programming  50%  24576/49152 bytes ...")
-- as its text without the time, and the programmed share when it tells one.
local function progress_line(line)
  local text = line:match("^%d+:%d%d%s+(.*)$") or line
  local percent = text:match("^programming%s+(%d+)%%")
  return text, tonumber(percent)
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

-- Runs the loader and follows its progress until it ends. OPTIONS:
--   loader, image, log, events  the program, the image, the progress log, the events file
--   reason                      the file for the failure's reason (--reason-file)
--   give_up_after               seconds
--   port                        the serial port; nil or "" for the loader's default
--   state                       the state file to record the image in once it is installed;
--                               nil to leave the state as it is
-- OBSERVER's functions, each optional: phase(TEXT) with each of the loader's progress lines
-- ("waking the receiver (wake-up 1)"); programmed(PERCENT) as the flash is programmed.
-- Returns the loader's exit status and, when it failed, its reason: the reason code and
-- message of --reason-file, or what the status means when the loader ended before saying.
function M.run(options, observer)
  local command = quote(options.loader) .. " -i " .. quote(options.image)
    .. " -l " .. quote(options.log) .. " --events " .. quote(options.events)
    .. " --progress --give-up-after " .. quote(options.give_up_after)
  if options.port and options.port ~= "" then command = command .. " -p " .. quote(options.port) end
  if options.state then command = command .. " --state " .. quote(options.state) end
  command = command .. " --reason-file " .. quote(options.reason)
  -- A stale reason must not be lent to a run that wrote none.
  os.remove(options.reason)
  -- The plain progress lines come on standard error; standard output has nothing to say.
  command = command .. " </dev/null 2>&1 >/dev/null"

  local pipe = io.popen(command, "r")
  if not pipe then return 127, STATUS_TEXT[127] end
  local last_percent = -1
  for line in pipe:lines() do
    local text, percent = progress_line(line)
    if percent then
      if percent ~= last_percent and observer.programmed then observer.programmed(percent) end
      last_percent = percent
    elseif observer.phase and text ~= "" then
      observer.phase(text)
    end
  end
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
