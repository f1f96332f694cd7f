// Public face of the latency module libmemlat.so: one entry that measures the mean latency of
// dependent loads that miss every level of cache the buffer does not fit in.
#pragma once

#include <stdint.h>

extern "C" {

// MemLatency(rounds, kbytes, loads)
//   rounds  how many timed rounds to run, 1 to 100; the figure is the fastest round's mean, so one
//           round disturbed by the system does not spoil it (the program passes 4).
//   kbytes  the buffer size in KBytes (1024 bytes), at least 1; it must fit in the memory that is
//           available now (the program passes 5.45 times its largest cache).
//   loads   the number of timed loads per round, at least 1 (the program passes 22000000). It is
//           an upper limit: a round is cut short to last about a quarter of a second (all rounds
//           together about two seconds), so a call stays within a few seconds on slow memory.
//           A round never has fewer than 262144 loads, which keeps the clock's own cost out of
//           the figure, and is rounded up to whole blocks of 64 loads. Rounds are timed on the
//           thread's processor clock, so time spent switched out does not count.
// The loads follow one random cycle through every 64-byte line of the buffer, each load taking
// its address from the one before. Returns the fastest round's mean in nanoseconds as
// "<number with four decimals> ns" with "." as the decimal point in every locale, e.g.
// "78.4312 ns", or a text that starts with "Error: " and says what failed. The text stays valid
// until the module is unloaded; a later call may overwrite it.
typedef const char* (*MemLatencyEntry)(int32_t rounds, int32_t kbytes, int32_t loads);

const char* MemLatency(int32_t rounds, int32_t kbytes, int32_t loads);
}

// Name to look the export up by.
#define MEMLAT_ENTRY_NAME "MemLatency"
