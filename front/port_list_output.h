#pragma once

#include <cstdio>

#include "platform/serial_port_list.h"

namespace gpsfw {

// The port list for a person: one block per port, its stable names indented below it.
void WritePortListText(std::FILE* out, const platform::SerialPortList& list);

// The port list for a program, as one JSON object:
//   {"ports": [{"device": "/dev/ttyUSB0", "by_id": "...", "by_path": null,
//               "driver": "ftdi_sio", "usb": {"vendor_id": "0403", "product_id": "6001",
//               "manufacturer": "...", "product": "...", "serial": "..."},
//               "latency_timer_ms": 16, "accessible": true, "in_use": false}, ...],
//    "truncated": false}
// Unknown values are null: "usb" for a port that is not USB, "latency_timer_ms" for an
// adapter without a timer, "in_use" when the port was not tried. Strings go through the
// loader's one JSON string writer: a USB string in Latin-1 still gives valid JSON.
void WritePortListJson(std::FILE* out, const platform::SerialPortList& list);

}  // namespace gpsfw
