#pragma once

#include <cstddef>

#include "platform/low_latency.h"

namespace gpsfw::platform {

// A USB adapter that holds received bytes longer than this slows the protocol down.
inline constexpr int kTolerableLatencyMs = 2;
// The protocol turns the line around this often per record: the announcement, its answer,
// the frame and the verdict.
inline constexpr int kTurnaroundsPerRecord = 3;

struct AdapterLatency {
  int timerMs = -1;         // the adapter's latency timer; -1 when it has none (not FTDI)
  bool lowLatency = false;  // the port runs at low latency, whatever the timer says
};

// Looks up, once the port is open, the latency timer of the adapter behind `device`: on
// Linux in `sysfsRoot` (/sys), from the tty the device path leads to; on Windows in the FTDI
// driver's registry key of the port (`sysfsRoot` is not used). `status` is the driver's
// answer to the low-latency request (SerialDriver::LowLatencyOf). True when the user should
// be told: a timer above kTolerableLatencyMs that the port does not get around, whether the
// driver refused or low latency was switched off.
bool AdapterLatencyWarning(const char* device, const char* sysfsRoot, LowLatency status,
                           AdapterLatency* found);

// The warning, as one paragraph without a line end: what holds the bytes, what it costs per
// record, and how to lower the timer on this host. False when it did not fit (then `out` is
// empty).
bool FormatLatencyWarning(char* out, size_t capacity, const char* device, int timerMs);

// The host's way to lower the timer of the adapter behind `device` for good, as one sentence.
bool FormatLatencyFix(char* out, size_t capacity, const char* device);

}  // namespace gpsfw::platform
