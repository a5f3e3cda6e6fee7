#include <string>

#include "tools/gpsfwsim/sim_options.h"

namespace gpsfw::simtool {

std::string UsageText() {
  return R"(gpsfwsim: a GPS receiver with its boot loader, SFLD and flash, on a pseudo-terminal.

Usage: gpsfwsim [options]

The receiver powers on in its application. The loader wakes it, uploads the SFLD at
19200 baud, and programs the flash at 115200. Bytes sent at a rate the other side does
not listen on arrive garbled, as on a real line.

Serving:
  --link PATH            publish the port as a symlink at PATH (removed at exit)
  --count N              serve N independent receivers (1 to 256), each on a pty of its
                         own; --link is then a PATTERN with one %d, replaced by the
                         receiver's number from 0 (--link /tmp/gps%d: /tmp/gps0, ...).
                         Each receiver has its own faults, verification against
                         --expect and section in --report ({"units": [...]}); --once
                         waits for all of them, and the status is 0 only when every
                         receiver completed an update and verified
  --unit K               the receiver options that follow (everything under Receiver,
                         Timings and Faults) apply to receiver K only, up to the next
                         --unit; --unit all goes back to every receiver. Options before
                         the first --unit apply to every receiver
  --once                 exit once an update has completed and the host has let go of
                         the port (its last descriptor of it closed, however the host
                         ended): status 0 when the flash verified, 1 when it did not,
                         3 when no update completed
  --time-limit SECONDS   stop after this long (above 0, at most 1000000000)
  --expect IMAGE         verify the flash against the bytes the loader must program from
                         IMAGE (binary container: file bytes up to the FW end address;
                         S-record file: its S3 data). Without it the flash is checked
                         against the data the host sent in the completed update. IMAGE
                         must be a regular file of at most 0x10100000 bytes.
  --report FILE          write what happened as JSON at exit
  --adapter-latency MS   the receiver's bytes reach the host as through a USB-serial
                         adapter with this latency timer (0 to 255, 0: none, as without
                         it): the chip holds them until the timer, started when a byte
                         arrives in its empty buffer, runs out or 62 bytes are waiting.
                         A pty cannot carry the host's request for low latency: the
                         delay always stays
  --verbose              print the receiver's events on standard error as they happen
  -h, --help             this text
  --version              the program's version

Receiver:
  --power-on-baud RATE   the application's rate, 4800 or 57600 (57600)
  --chatter              the application sends an NMEA sentence every second
  --nmea BAUD[:PERIOD_MS]
                         whenever the application runs, it sends a burst of NMEA
                         sentences (GGA, GSA, GSV, RMC, VTG) every PERIOD_MS (1000)
                         at BAUD (4800 to 115200), whatever rate the host listens at;
                         it still listens for the wake sequence at its power-on rate.
                         The host's UART then takes all the receiver sends as a real
                         one does: a byte at another rate may give several bytes or
                         none, and a bit sampled next to an edge is decided by --seed
  --flash-base ADDR      (0x10000000)
  --flash-sectors LIST   COUNTxSIZE,... (4x4096,16x65536); the flash must end within
                         the receiver's 32-bit address space
  --boot-version TEXT    the boot loader's answer to SYNC_CODE ("$VER BL 2.04\r\n")
  --sfld-version TEXT    the SFLD's answer to 0x90 ("$VER SFLD 1.10\r\n")
                         TEXT may hold \r \n \t \\ and \xHH
  --flash-type BYTE      the byte behind 0x91 in the type answer (5)
  --type-reply "HH HH.." the whole answer to 0x91 instead
Timings, in microseconds:
  --boot-us --sfld-start-us --reboot-us --reply-us --program-record-us
  --erase-sector-us --frame-gap-us --resync-us --sfld-idle-us --chatter-period-us
  (--sfld-idle-us at least 1000; --chatter-period-us 0 or at least 1000)

Faults (a record is STAGE:INDEX: STAGE sfld or flash, INDEX a data record counted
from 0 within one attempt, 'end' or 'erase'; each option may be given again):
)" + FaultHelp() +
         R"(
Exit status: 0, 1 and 3 as for --once; 2 for a usage error or an --expect image that
is refused; 4 when the pty or the link cannot be made.
)";
}

}  // namespace gpsfw::simtool
