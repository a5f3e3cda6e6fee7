#include "tools/gpsfwimg/commands.h"

namespace gpsfw::tool {

const char* BuildUsage() {
  return R"(gpsfwimg build --pfld PFLD.bin --fw FW.bin [--sfld SFLD.srec] -o IMAGE.bin

  Lays out a binary firmware container:
    offset 0x0000  PFLD section (target address 0x10000000)
    offset 0x4000  FW section   (target address 0x10004000)
    behind the FW  the SFLD S-record text and its checksum word (with --sfld)
  Each section gets its header at its offset 0x20 (start address, end address; these
  eight bytes of PFLD.bin and FW.bin are overwritten) and its XOR checksum word right
  behind its data, which is padded with 0xFF to whole words and to at least 0x28 bytes.
  The gap between the PFLD checksum word and 0x4000 is filled with 0xFF. The SFLD text's
  line ends are set to LF or CR LF so that its length is a multiple of 4.

  Refused, with exit status 1: an input that is not a regular file or is larger than
  the largest container (269484032 bytes), a first word whose top byte is not 0xE5, a
  PFLD of more than 16380 bytes, a FW of more than 1048572 bytes, an SFLD that is not a
  well-formed S-record file. The written image is read back with the loader's own check.

  Options:
    --pfld FILE     PFLD section data
    --fw FILE       FW section data
    --sfld FILE     SFLD as S-record text (optional)
    -o, --out FILE  the image to write
)";
}

const char* InfoUsage() {
  return R"(gpsfwimg info IMAGE

  Shows what the loader sees in IMAGE: its type (binary container or Motorola
  S-Record), start address, entry point and size, the container check's lines as the
  progress log would hold them, the SFLD tail (none, skipped for a wrong checksum, or
  found, with the extent of its S-record text), and the number of records and bytes
  that would be sent to the receiver.

  Exit status 0 only when the loader would accept the image.
)";
}

const char* SampleUsage() {
  return R"(gpsfwimg sample --pfld-size N --fw-size N --out-dir DIR [--seed S]
                [--sfld-size N] [--sfld-address A]

  Writes deterministic pseudo-random sample inputs for 'build' into DIR, which is
  created with its parents when missing:
    PFLD.bin   N bytes, first word 0xE59FF018
    FW.bin     N bytes, first word 0xE59FF018
    SFLD.srec  an S0 header, S3 lines of 32 data bytes from address A (default
               0x00000000) holding --sfld-size bytes (default 2048), and an S7 entry A
  The same seed (default 1) gives the same files on every machine. Sizes are 4 to
  1048576; the SFLD's data must end at or below 0xFFFFFFFF. Numbers may be written in
  decimal or as 0x-hexadecimal.
)";
}

const char* ManualText() {
  return R"(GPSFWIMG(1)                      gpsfwload tools                      GPSFWIMG(1)

NAME
  gpsfwimg - make and inspect firmware images for the GPS receiver loader

SYNOPSIS
  gpsfwimg build --pfld PFLD.bin --fw FW.bin [--sfld SFLD.srec] -o IMAGE.bin
  gpsfwimg info IMAGE
  gpsfwimg sample --pfld-size N --fw-size N --out-dir DIR [--seed S]
                  [--sfld-size N] [--sfld-address A]
  gpsfwimg [COMMAND] --help
  gpsfwimg --version

DESCRIPTION
  gpsfwload programs a binary firmware container or a Motorola S-record image into
  the receiver. gpsfwimg makes such containers and shows what the loader would see
  in one, using the loader's own readers and container check.

COMMANDS
  build   Lay out a container from PFLD, FW and optionally SFLD inputs.
  info    Show type, extent, check findings, SFLD tail and records of an image.
  sample  Write deterministic sample PFLD.bin, FW.bin and SFLD.srec files.

  'gpsfwimg COMMAND --help' describes each command in full.

CONTAINER LAYOUT
  All words are 32-bit little-endian; file offset k is target address 0x10000000 + k.
    0x0000         PFLD first word, 0xE5xxxxxx
    0x0020/0x0024  PFLD start 0x10000000, end E (address of the PFLD checksum word)
    0x4000         FW first word, 0xE5xxxxxx
    0x4020/0x4024  FW start 0x10004000, end F (address of the FW checksum word)
    F-0x10000000   FW checksum word; the bytes before it are what is programmed
    behind it      SFLD S-record text, then the XOR of its words
  A section's checksum is the XOR of its words from its first word to its end.

EXIT STATUS
  0  success; for info: the loader would accept the image
  1  input refused, or an image the loader would refuse
  2  usage error

EXAMPLES
  gpsfwimg sample --pfld-size 2048 --fw-size 65536 --out-dir parts
  gpsfwimg build --pfld parts/PFLD.bin --fw parts/FW.bin --sfld parts/SFLD.srec -o fw.bin
  gpsfwimg info fw.bin
)";
}

}  // namespace gpsfw::tool
