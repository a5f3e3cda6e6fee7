#pragma once

#include <cstdint>

namespace gpsfw {

// The host's side of the dialogue in time: the line speeds it uses, the pauses it keeps, how
// often it repeats and how long it waits. The session, the stages, the record exchange, the
// serial port and the floor of an update all read their figures from here, so that what the
// check reports as the expected time is what the session does.

// Line speeds.
// The receiver's application listens at 4800 or 57600, depending on its configuration; the
// wake sequence goes out at both.
inline constexpr uint32_t kWakeBauds[] = {4800, 57600};
// The port opens at the faster of the application's rates.
inline constexpr uint32_t kOpeningBaud = 57600;
// The boot loader listens at 19200; so does the SFLD until the host switches it over.
inline constexpr uint32_t kPollBaud = 19200;
// The SFLD takes its flash commands and the image's records at 115200.
inline constexpr uint32_t kFlashBaud = 115200;
// The port opens at the standard line speeds within the loaders' range.
inline constexpr uint32_t kSlowestBaud = 4800;
inline constexpr uint32_t kFastestBaud = 115200;

// Wake-up and polling.
// After each wake sequence, four SYNC_CODE 400 ms apart give the boot loader time to start.
inline constexpr int kWakeSyncs = 4;
inline constexpr uint32_t kWakeSyncSpacingMs = 400;
// A poll's answer (or the rest of a text reply) is read this long after the poll.
inline constexpr uint32_t kReplyPauseMs = 200;
// After the SFLD's end record, three SYNC_CODE a reply pause apart: the SFLD announces
// itself with SYNC_CODE to the polls that follow.
inline constexpr int kSyncsAfterUpload = 3;
// Unanswered polls before the receiver is woken again.
inline constexpr int kUnansweredPollsBeforeWake = 10;
// Whatever arrives, the session wakes the receiver again once it has gone this long without
// progress (a "$VER" reply taken, the SFLD accepted, a flash stage answered). A receiver
// that restarted into its application streams NMEA at its own speed; at the host's speed
// those bytes arrive garbled, and some look like REC_WAIT_CODE, SYNC_CODE, 'D' or '$': they
// answer the polls, so the count of unanswered polls never reaches its wake-up. A working
// receiver makes progress every few seconds (a wake-up and its replies take about 4 s, the
// SFLD's upload is counted from its end); stray stages started on stray bytes end within
// their own bounds (the version query's 10 s), so 30 s wakes a chattering receiver within
// the margin a recovery has.
inline constexpr uint64_t kStalledSessionWakeUs = 30'000'000;
// A flash loader left at 115200 by a failed stage falls back to 19200 after a spell without
// traffic; polls at 19200 reach it garbled and keep it waiting. The host keeps this quiet
// before it polls again, longer each round, so that flash loaders with longer idle times are
// reached as well.
inline constexpr uint32_t kQuietGapMs = 3000;
inline constexpr uint32_t kLongestQuietGapMs = 24000;

// The flash stage.
// The SFLD needs this long to put its version reply, then its type reply, on the line.
inline constexpr uint32_t kVersionReplyPauseMs = 500;
inline constexpr uint32_t kTypeReplyPauseMs = 200;
// Between SYNC_CODE and ERASE_CODE, so that the SFLD takes them as two commands.
inline constexpr uint32_t kEraseCommandGapMs = 10;

// The record exchange.
// Before each record's announcement: the target settles after the previous verdict.
inline constexpr uint32_t kRecordSettleMs = 20;
// Before a frame is sent again after a flood of REC_WAIT_CODE.
inline constexpr uint32_t kResendPauseMs = 10;
// Between reads that found nothing while a verdict is awaited.
inline constexpr uint32_t kEmptyReadPauseMs = 100;
// The target sends REC_WAIT_CODE while it waits for the frame; past this many the frame is
// taken as lost and sent again.
inline constexpr int kRecWaitTolerance = 200;
// The recovery pass after a failed record: cycles, and the pause of each.
inline constexpr int kRecoveryCycles = 1000;
inline constexpr uint32_t kRecoveryCycleMs = 100;

// The serial port.
// One byte is waited for as ten attempts of a 2 ms read and a 100 ms pause.
inline constexpr uint64_t kReadAttempts = 10;
inline constexpr uint64_t kReadAttemptMs = 2;
inline constexpr uint32_t kReadPauseMs = 100;
// A byte the driver did not take is offered again after this pause; a block's rest after
// the shorter one.
inline constexpr uint32_t kWriteRetryMs = 10;
inline constexpr uint32_t kBlockRetryMs = 1;
// A change of rate waits for the transmitter to drain and the UART to settle.
inline constexpr uint32_t kBaudSettleMs = 10;
// A lost serial device is looked for this often.
inline constexpr uint32_t kLostPortCheckMs = 250;

// Wait bounds: how long the host waits before it gives up on an answer and goes back to the
// session loop, which recovers. Each is longer than anything a working receiver makes the
// host wait, and short enough that any fault ends in a complete update within about a minute.
// WaitForByte without the byte it waits for, however many other bytes arrive.
inline constexpr uint64_t kWaitForByteLimitUs = 10'000'000;
// The verdict on a record, counted from the end of its frame, however many stray bytes and
// REC_WAIT_CODE arrive. A receiver may stay silent for half a minute while it programs.
inline constexpr uint64_t kVerdictLimitUs = 32'000'000;
// The recovery pass after a failed record ends after this much silence; while bytes keep
// coming it runs its full count of cycles, but never longer than the second bound: a
// receiver that restarted into its application streams NMEA for ever, and its loader, had it
// wanted the record again, would have answered REC_WAIT_CODE long before.
inline constexpr uint64_t kRecoverySilenceUs = 5'000'000;
inline constexpr uint64_t kRecoveryPassLimitUs = 10'000'000;
// The flash loader's version query, repeated until a "$VER" reply.
inline constexpr uint64_t kVersionQueryLimitUs = 10'000'000;
// Silence between two sector reports of an erase; one 64 KiB NOR sector takes about a second.
inline constexpr uint64_t kEraseSilenceLimitUs = 20'000'000;

}  // namespace gpsfw
