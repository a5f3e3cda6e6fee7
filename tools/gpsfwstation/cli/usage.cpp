#include "tools/gpsfwstation/cli/station_options.h"

namespace gpsfw::station {

const char* UsageText() {
  return R"(gpsfwstation: flashes one firmware image to many GPS receivers at once.

Usage: gpsfwstation -i IMAGE [options] [PORT...]
       gpsfwstation history [--db WHERE] [filters] | stats [--db WHERE] [--by WHAT]
         (questions answered from the record: see 'gpsfwstation history --help')
       gpsfwstation serve [--db WHERE] [--web DIR] --http ADDR:PORT [--http-token TOKEN]
         (the record's dashboard, the web updater page, without flashing anything)
       gpsfwstation --config FILE [options]

The image is copied once into a private folder and that copy is checked with
'gpsfwload --check' and flashed; a refused image touches no port.
Then one gpsfwload runs per port, each in a process group of its own, with its own
progress log and TMPDIR; the station reads each loader's event stream. On a terminal
one row per port is rewritten in place; otherwise one line per port and phase change.
A summary table ends the run.

Ports:
  PORT...                a serial port each (/dev/ttyUSB0, GPS1:, a pty link)
  --ports GLOB           every port that matches GLOB (/dev/ttyUSB*,
                         '/dev/serial/by-path/*'); may be given again
  --watch                keep running: flash every matching port that appears, once
                         per connection (a port is flashed again only after it went
                         away and came back); the wildcards must be in the last part
  --settle SECONDS       wait this long after a port appears before it is flashed (1)

Options:
  -i, --image IMAGE      the firmware image (binary container or S-record file)
  --log-dir DIR          the loaders' logs, one per update: DIR/<port>-<UTC start>.log,
                         '/' in the port's path made '_', never written over
                         (default: the working directory)
  --report FILE          write the summary as JSON, again after every ended update
  --db WHERE             keep one row per update in a record: an SQLite file, or a
                         PostgreSQL connection string (postgresql://user@host/db)
  --operator NAME        the operator the record names (the login name)
  --station NAME         the station's name in the record, the report and the
                         dashboard: 1 to 64 printable characters (the host's name)
  --expect-sha256 HEX    refuse any image whose SHA-256 is not HEX
  --unit-timeout SECONDS a port whose update has not ended by then fails; its loader
                         is stopped (600)
  --loader PATH          the loader to run (gpsfwload beside gpsfwstation)
  --serial-from CMD      before a port is flashed, run CMD with /bin/sh -c (GPSFW_PORT,
                         GPSFW_PORT_BY_ID, GPSFW_PORT_BY_PATH, GPSFW_USB_SERIAL set); the
                         first line it prints is the unit's serial number. A command that
                         fails, prints no serial or runs too long fails the unit unflashed
  --serial-timeout SECONDS
                         the longest --serial-from's command may run; then it is killed
                         with its process group (10)
  --require-serial       a port waits, untouched, for its serial: from --serial-from, or
                         scanned into the dashboard's serial field
  --plain                plain lines also on a terminal
  --http ADDR:PORT       serve a live dashboard in the browser (:8080 is loopback only;
                         0.0.0.0:8080 listens on every address and needs a token).
                         /api/state, /api/history and /api/stations answer in
                         JSON, /events streams
  --http-token TOKEN     every request must carry TOKEN (?token= or a Bearer header);
                         default $GPSFW_HTTP_TOKEN
  --web DIR              with --http, also serve the web updater page from DIR
                         (scripts/web-build.sh's site) under /web/
  --on-update-end CMD    run CMD (through /bin/sh -c) once per ended update, with the
                         row as one JSON line on its standard input: off the station's
                         loop, at most 4 at once; its outcome is the row's hook_status,
                         and rows whose hook failed are handed to it again at the next
                         start
  --hook-timeout SECONDS a hook still running after this long is killed (30)
  --config FILE          options from FILE, one key=value per line (image=fw.bin,
                         ports=/dev/ttyUSB*, watch=yes, db=..., http=..., operator=...,
                         station=...;
                         '#' starts a comment, also after a value; a key once,
                         ports again); options on the command line win
  -h, --help             this text
  --version              the version

Ctrl-C stops starting new updates and lets the running ones finish; a second Ctrl-C
(or SIGTERM, SIGHUP) stops them (each loader restores its port) and prints the summary.

Exit status: 0 when every port's update completed, 1 when one did not or the station
could not start, 2 for a mistake on the command line or in --config, 3 when the image
was refused (no port was touched).
)";
}

}  // namespace gpsfw::station
