#include "tools/gpsfwsim/sim_options.h"

namespace gpsfw::simtool {

const char* UsageText() {
  return R"(gpsfwsim: a GPS receiver with its boot loader, SFLD and flash, on a pseudo-terminal.

Usage: gpsfwsim [options]

The receiver powers on in its application. The loader wakes it, uploads the SFLD at
19200 baud, and programs the flash at 115200. Bytes sent at a rate the other side does
not listen on arrive garbled, as on a real line.

Serving:
  --link PATH            publish the port as a symlink at PATH (removed at exit)
  --once                 exit after one completed update: status 0 when the flash
                         verified, 1 when it did not, 3 when no update completed
  --time-limit SECONDS   stop after this long
  --expect IMAGE         verify the flash against the bytes the loader must program from
                         IMAGE (binary container: file bytes up to the FW end address;
                         S-record file: its S3 data). Without it the flash is checked
                         against the data the host sent in the completed update.
  --report FILE          write what happened as JSON at exit
  --verbose              print the receiver's events on standard error as they happen
  -h, --help             this text

Receiver:
  --power-on-baud RATE   the application's rate, 4800 or 57600 (57600)
  --chatter              the application sends an NMEA sentence every second
  --flash-base ADDR      (0x10000000)
  --flash-sectors LIST   COUNTxSIZE,... (4x4096,16x65536)
  --boot-version TEXT    the boot loader's answer to SYNC_CODE ("$VER BL 2.04\r\n")
  --sfld-version TEXT    the SFLD's answer to 0x90 ("$VER SFLD 1.10\r\n")
                         TEXT may hold \r \n \t \\ and \xHH
  --flash-type BYTE      the byte behind 0x91 in the type answer (5)
  --type-reply "HH HH.." the whole answer to 0x91 instead
Timings, in microseconds:
  --boot-us --sfld-start-us --reboot-us --reply-us --program-record-us
  --erase-sector-us --frame-gap-us --resync-us --sfld-idle-us --chatter-period-us

Faults (a record is STAGE:INDEX: STAGE sfld or flash, INDEX a data record counted
from 0 within one attempt, 'end' or 'erase'; each option may be given again):
  --reject REC[:BYTE[:always]]   answer the record with BYTE (0x81), once or always
  --flood REC[:COUNT]            COUNT REC_WAIT_CODE after its frame instead of a verdict
                                 (201; the host sends the frame again), once
  --silence REC:MS[:verdict|rec-wait]
                                 neither answer nor listen for MS before the verdict
                                 (or before REC_WAIT_CODE at its announcement), once
  --reset REC[:application|boot-loader]
                                 restart after the verdict: a power cycle into the
                                 application, or into the boot loader, once
  --erase-fault SECTORS[:BYTE]   after SECTORS sector reports send BYTE (0x84) and
                                 abandon the erase; one per erase, in order
  --no-boot-echo                 leave one boot-mode command unanswered
  --no-erase-sync                leave one erase command without SYNC_CODE
  --garbage PER_SECOND           random bytes while the application or the boot loader
                                 is polled (never SYNC_CODE or REC_WAIT_CODE)
  --seed N                       for the garbage (1)
)";
}

}  // namespace gpsfw::simtool
