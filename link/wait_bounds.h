#pragma once

#include <cstdint>

namespace gpsfw {

// How long the host waits before it gives up on an answer and goes back to the session loop,
// which recovers. Each bound is longer than anything a working receiver makes the host wait,
// and short enough that any fault ends in a complete update within about a minute.

// WaitForByte without the byte it waits for, however many other bytes arrive.
inline constexpr uint64_t kWaitForByteLimitUs = 10'000'000;
// The verdict on a record, counted from the end of its frame, however many stray bytes and
// REC_WAIT_CODE arrive. A receiver may stay silent for half a minute while it programs.
inline constexpr uint64_t kVerdictLimitUs = 32'000'000;
// The recovery pass after a failed record ends after this much silence; while bytes keep
// coming it runs its full count of cycles.
inline constexpr uint64_t kRecoverySilenceUs = 5'000'000;
// The flash loader's version query, repeated until a "$VER" reply.
inline constexpr uint64_t kVersionQueryLimitUs = 10'000'000;
// Silence between two sector reports of an erase; one 64 KiB NOR sector takes about a second.
inline constexpr uint64_t kEraseSilenceLimitUs = 20'000'000;
// Unanswered polls before the receiver is woken again.
inline constexpr int kUnansweredPollsBeforeWake = 10;
// A flash loader left at 115200 by a failed stage falls back to 19200 after a spell without
// traffic; polls at 19200 reach it garbled and keep it waiting. The host keeps this quiet
// before it polls again, longer each round, so that flash loaders with longer idle times are
// reached as well.
inline constexpr uint32_t kQuietGapMs = 3000;
inline constexpr uint32_t kLongestQuietGapMs = 24000;
// A lost serial device is looked for this often.
inline constexpr uint32_t kLostPortCheckMs = 250;

}  // namespace gpsfw
