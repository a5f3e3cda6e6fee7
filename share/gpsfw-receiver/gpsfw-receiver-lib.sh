# gpsfw-receiver-lib.sh: the device's receiver settings and the loader run, shared by the
# update systems' integrations (Mender's Update Module, SWUpdate's handler, RAUC's hook).
# POSIX sh; source it, then call:
#
#   gpsfw_conf_load [FILE]
#       Reads the settings: FILE, else the file $GPSFW_RECEIVER_CONF names, else
#       /etc/gpsfw-receiver.conf (that one alone may be missing: every setting then keeps its
#       default). Lines are key=value, blanks around either are ignored, a line whose first
#       non-blank character is '#' is a comment. Sets
#         GPSFW_PORT           port=         the receiver's serial port (default: empty, the
#                                            loader's own default, /dev/gps0)
#         GPSFW_GIVE_UP_AFTER  give-up-after= seconds, 1 to 86400 (default 900)
#         GPSFW_STATE          state=        absolute path (default /var/lib/gpsfw-receiver/state)
#         GPSFW_LOADER         loader=       the loader, a name on PATH or a path (default gpsfwload)
#         GPSFW_LOG_DIR        log-dir=      absolute path of the folder for the loader's progress
#                                            log and events (default /var/log/gpsfw-receiver)
#       An unknown key, a key given twice, a line that is not key=value or a bad value is
#       refused with "FILE:LINE: ..." on stderr and status 2; nothing is set then.
#
#   gpsfw_flash IMAGE
#       Flashes IMAGE: the loader with -p PORT (when set), --give-up-after, --state, -l
#       LOG_DIR/gpsfwload.log, --events LOG_DIR/events.jsonl, --reason-file LOG_DIR/reason
#       and --progress; everything it prints goes to stderr. Returns 0 once the update
#       completed and the state was written. Otherwise prints "gpsfw-receiver: update failed:
#       REASON (loader status N)" on stderr, REASON being the loader's own (its reason code and
#       message), and returns the loader's status (1 when the loader could not be started).
#
#   gpsfw_installed_sha256     prints the SHA-256 of the installed image; fails when no state
#   gpsfw_installed_image      prints the path of the installed image's kept copy, or fails
#   gpsfw_previous_image       prints the path of the kept copy of the image installed before
#                              the current one, or fails
#   gpsfw_state_field PATH     prints one field of the state, named as in
#                              `gpsfwload --show-state STATE --json` with nested keys joined by
#                              '.', e.g. identity.boot_loader; fails when the state or the
#                              field is missing
#
# Every function needs gpsfw_conf_load first. The library defines only names that start with
# gpsfw_ / GPSFW_ (its scratch variables start with _gpsfw_), and is safe under set -eu.

GPSFW_DEFAULT_CONF=/etc/gpsfw-receiver.conf

# _gpsfw_pick KEY: the value of "KEY: value" among the lines on standard input.
_gpsfw_pick() {
  awk -v want="$1: " 'index($0, want) == 1 { print substr($0, length(want) + 1); found = 1; exit }
    END { exit found ? 0 : 1 }'
}

# _gpsfw_refuse FILE LINE MESSAGE
_gpsfw_refuse() {
  printf '%s:%s: %s\n' "$1" "$2" "$3" >&2
  return 2
}

# _gpsfw_absolute VALUE: true for an absolute path without a newline.
_gpsfw_absolute() {
  case $1 in
    /*) return 0 ;;
    *) return 1 ;;
  esac
}

gpsfw_conf_load() {
  _gpsfw_file=${1:-${GPSFW_RECEIVER_CONF:-}}
  _gpsfw_optional=0
  if [ -z "$_gpsfw_file" ]; then
    _gpsfw_file=$GPSFW_DEFAULT_CONF
    _gpsfw_optional=1
  fi
  _gpsfw_port=""
  _gpsfw_give=900
  _gpsfw_state=/var/lib/gpsfw-receiver/state
  _gpsfw_loader=gpsfwload
  _gpsfw_logs=/var/log/gpsfw-receiver
  if [ -e "$_gpsfw_file" ] || [ "$_gpsfw_optional" -eq 0 ]; then
    if [ ! -f "$_gpsfw_file" ] || [ ! -r "$_gpsfw_file" ]; then
      printf '%s: the receiver settings file is missing or unreadable\n' "$_gpsfw_file" >&2
      return 2
    fi
    _gpsfw_seen=" "
    _gpsfw_no=0
    # The last line counts even without its newline. (The messages go to stderr, not to
    # the file read.)
    # shellcheck disable=SC2094
    while IFS= read -r _gpsfw_line || [ -n "$_gpsfw_line" ]; do
      _gpsfw_no=$((_gpsfw_no + 1))
      # A file edited elsewhere may end its lines with CR LF.
      _gpsfw_line=$(printf '%s' "$_gpsfw_line" | tr -d '\r')
      _gpsfw_trim=$(printf '%s' "$_gpsfw_line" | sed 's/^[[:blank:]]*//; s/[[:blank:]]*$//')
      case $_gpsfw_trim in
        '' | '#'*) continue ;;
        *=*) ;;
        *)
          _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "not key=value: $_gpsfw_trim"
          return 2
          ;;
      esac
      _gpsfw_key=$(printf '%s' "${_gpsfw_trim%%=*}" | sed 's/[[:blank:]]*$//')
      _gpsfw_value=$(printf '%s' "${_gpsfw_trim#*=}" | sed 's/^[[:blank:]]*//')
      case $_gpsfw_seen in
        *" $_gpsfw_key "*)
          _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "$_gpsfw_key is set twice"
          return 2
          ;;
      esac
      _gpsfw_seen="$_gpsfw_seen$_gpsfw_key "
      case $_gpsfw_key in
        port)
          if [ -z "$_gpsfw_value" ]; then
            _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "port needs a value (a device path, COMn:, GPSn: or usb-serial:SERIAL)"
            return 2
          fi
          _gpsfw_port=$_gpsfw_value
          ;;
        give-up-after)
          # Digits only, 1 to 86400, as the loader takes them: a typo must not mean "never".
          case $_gpsfw_value in
            '' | *[!0-9]*) _gpsfw_bad=1 ;;
            *) if [ "${#_gpsfw_value}" -le 5 ] && [ "$_gpsfw_value" -ge 1 ] &&
              [ "$_gpsfw_value" -le 86400 ]; then _gpsfw_bad=0; else _gpsfw_bad=1; fi ;;
          esac
          if [ "$_gpsfw_bad" -ne 0 ]; then
            _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "give-up-after must be a whole number of seconds from 1 to 86400, not '$_gpsfw_value'"
            return 2
          fi
          _gpsfw_give=$_gpsfw_value
          ;;
        state)
          # The update systems run their modules from folders of their own choosing: a
          # relative path would move with them.
          if ! _gpsfw_absolute "$_gpsfw_value"; then
            _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "state must be an absolute path, not '$_gpsfw_value'"
            return 2
          fi
          _gpsfw_state=$_gpsfw_value
          ;;
        loader)
          if [ -z "$_gpsfw_value" ]; then
            _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "loader needs a value (a program name or path)"
            return 2
          fi
          _gpsfw_loader=$_gpsfw_value
          ;;
        log-dir)
          if ! _gpsfw_absolute "$_gpsfw_value"; then
            _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "log-dir must be an absolute path, not '$_gpsfw_value'"
            return 2
          fi
          _gpsfw_logs=$_gpsfw_value
          ;;
        *)
          _gpsfw_refuse "$_gpsfw_file" "$_gpsfw_no" "unknown key '$_gpsfw_key' (known: port, give-up-after, state, loader, log-dir)"
          return 2
          ;;
      esac
    done <"$_gpsfw_file"
  fi
  GPSFW_PORT=$_gpsfw_port
  GPSFW_GIVE_UP_AFTER=$_gpsfw_give
  GPSFW_STATE=$_gpsfw_state
  GPSFW_LOADER=$_gpsfw_loader
  GPSFW_LOG_DIR=$_gpsfw_logs
  GPSFW_CONF_FILE=$_gpsfw_file
}

# _gpsfw_need_conf: refuses to go on before gpsfw_conf_load.
_gpsfw_need_conf() {
  if [ -z "${GPSFW_STATE:-}" ] || [ -z "${GPSFW_LOADER:-}" ]; then
    echo "gpsfw-receiver: the settings are not loaded (gpsfw_conf_load first)" >&2
    return 2
  fi
}

_gpsfw_port_name() {
  if [ -n "$GPSFW_PORT" ]; then echo "$GPSFW_PORT"; else echo "the loader's default port"; fi
}

# _gpsfw_status_text STATUS: what the loader's exit status means, for when its events give no
# reason (it stopped before writing them, or could not write them).
_gpsfw_status_text() {
  case $1 in
    2) echo "the loader refused its command line" ;;
    247) echo "the update completed but the state file $GPSFW_STATE could not be written" ;;
    248) echo "the update did not complete within $GPSFW_GIVE_UP_AFTER s" ;;
    250) echo "no image given" ;;
    251) echo "the progress log in $GPSFW_LOG_DIR could not be written" ;;
    253) echo "the image or its SFLD is unusable" ;;
    254) echo "the serial port $(_gpsfw_port_name) is unusable" ;;
    127) echo "the loader could not be run" ;;
    *)
      if [ "$1" -gt 128 ] && [ "$1" -lt 247 ]; then
        echo "the loader was stopped by signal $(($1 - 128))"
      else
        echo "the loader gave no reason"
      fi
      ;;
  esac
}

gpsfw_flash() {
  _gpsfw_need_conf || return 2
  if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "gpsfw-receiver: gpsfw_flash needs one image" >&2
    return 2
  fi
  _gpsfw_image=$1
  if [ ! -f "$_gpsfw_image" ] || [ ! -r "$_gpsfw_image" ]; then
    echo "gpsfw-receiver: update failed: the image $_gpsfw_image is missing or unreadable" >&2
    return 1
  fi
  if ! command -v "$GPSFW_LOADER" >/dev/null 2>&1; then
    echo "gpsfw-receiver: update failed: the loader '$GPSFW_LOADER' cannot be run (settings: ${GPSFW_CONF_FILE:-defaults})" >&2
    return 1
  fi
  _gpsfw_state_dir=$(dirname "$GPSFW_STATE")
  if ! mkdir -p "$GPSFW_LOG_DIR" "$_gpsfw_state_dir"; then
    echo "gpsfw-receiver: update failed: cannot create $GPSFW_LOG_DIR or $_gpsfw_state_dir" >&2
    return 1
  fi
  _gpsfw_log=$GPSFW_LOG_DIR/gpsfwload.log
  _gpsfw_events=$GPSFW_LOG_DIR/events.jsonl
  _gpsfw_reason_file=$GPSFW_LOG_DIR/reason
  # A stale reason must not be lent to a run that wrote none.
  rm -f "$_gpsfw_events" "$_gpsfw_reason_file"
  set -- "$GPSFW_LOADER" -i "$_gpsfw_image" --give-up-after "$GPSFW_GIVE_UP_AFTER" \
    --state "$GPSFW_STATE" -l "$_gpsfw_log" --events "$_gpsfw_events" \
    --reason-file "$_gpsfw_reason_file" --progress
  if [ -n "$GPSFW_PORT" ]; then set -- "$@" -p "$GPSFW_PORT"; fi
  echo "gpsfw-receiver: flashing $_gpsfw_image to the receiver on $(_gpsfw_port_name) (giving up after $GPSFW_GIVE_UP_AFTER s)" >&2
  _gpsfw_status=0
  "$@" </dev/null 1>&2 || _gpsfw_status=$?
  if [ "$_gpsfw_status" -eq 0 ]; then
    echo "gpsfw-receiver: the receiver now runs $_gpsfw_image" >&2
    return 0
  fi
  _gpsfw_reason=""
  # One line, "CODE MESSAGE", when the run ended with a reason.
  if [ -s "$_gpsfw_reason_file" ]; then
    IFS= read -r _gpsfw_line <"$_gpsfw_reason_file" || true
    _gpsfw_code=${_gpsfw_line%% *}
    _gpsfw_message=${_gpsfw_line#"$_gpsfw_code"}
    _gpsfw_message=${_gpsfw_message# }
    if [ -n "$_gpsfw_code" ] && [ -n "$_gpsfw_message" ]; then
      _gpsfw_reason="$_gpsfw_code: $_gpsfw_message"
    else
      _gpsfw_reason="$_gpsfw_code$_gpsfw_message"
    fi
  fi
  [ -n "$_gpsfw_reason" ] || _gpsfw_reason=$(_gpsfw_status_text "$_gpsfw_status")
  echo "gpsfw-receiver: update failed: $_gpsfw_reason (loader status $_gpsfw_status)" >&2
  echo "gpsfw-receiver: the loader's progress log is $_gpsfw_log" >&2
  return "$_gpsfw_status"
}

gpsfw_state_field() {
  _gpsfw_need_conf || return 2
  [ -f "$GPSFW_STATE" ] || return 1
  # The "key: value" lines name the receiver's fields without "identity." and the copy of
  # the image before as previous.image_copy.
  case $1 in
    identity.*) _gpsfw_key=${1#identity.} ;;
    previous.identity.*) _gpsfw_key=previous.${1#previous.identity.} ;;
    previous_image) _gpsfw_key=previous.image_copy ;;
    *) _gpsfw_key=$1 ;;
  esac
  _gpsfw_lines=$("$GPSFW_LOADER" --show-state "$GPSFW_STATE" 2>/dev/null) || return 1
  printf '%s\n' "$_gpsfw_lines" | _gpsfw_pick "$_gpsfw_key"
}

gpsfw_installed_sha256() {
  gpsfw_state_field sha256
}

# A copy is named only once it is whole, but it may have been removed by hand since.
gpsfw_installed_image() {
  _gpsfw_copy=$(gpsfw_state_field image_copy) || return 1
  [ -f "$_gpsfw_copy" ] || return 1
  printf '%s\n' "$_gpsfw_copy"
}

gpsfw_previous_image() {
  _gpsfw_copy=$(gpsfw_state_field previous_image) || return 1
  [ -f "$_gpsfw_copy" ] || return 1
  printf '%s\n' "$_gpsfw_copy"
}
