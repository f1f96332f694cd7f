// memlat [KBYTES [LOADS [ROUNDS]]]: one measurement with the module's text as it is, or without
// arguments a curve over buffer sizes that shows the cache levels and the memory behind them.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "latency/memlat.h"

namespace {

constexpr int32_t kDefaultLoads = 22000000;
constexpr int32_t kDefaultRounds = 4;

void Usage(FILE* to) {
  fprintf(to,
          "usage: memlat [KBYTES [LOADS [ROUNDS]]]\n"
          "  KBYTES  buffer size in KBytes (1024 bytes)\n"
          "  LOADS   timed loads per round, an upper limit (default %d)\n"
          "  ROUNDS  timed rounds, the fastest counts (default %d)\n"
          "Without arguments: the latency for buffers from 16 KiB to 512 MiB.\n",
          kDefaultLoads, kDefaultRounds);
}

bool ParseInt32(const char* text, int32_t* value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool IsError(const char* text) { return !text || strncmp(text, "Error: ", 7) == 0; }

int Curve() {
  printf("Latency of dependent loads along a random cycle, fastest of %d rounds\n", kDefaultRounds);
  fflush(stdout);
  int status = 0;
  for (int32_t kbytes = 16; kbytes <= 512 * 1024; kbytes *= 2) {
    const char* text = MemLatency(kDefaultRounds, kbytes, kDefaultLoads);
    if (kbytes < 1024)
      printf("%9d KiB  %s\n", kbytes, text ? text : "Error: no text");
    else
      printf("%9d MiB  %s\n", kbytes / 1024, text ? text : "Error: no text");
    fflush(stdout);
    if (IsError(text)) status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (argc == 1) return Curve();
  if (argc > 4) {
    Usage(stderr);
    return 2;
  }
  int32_t kbytes = 0;
  int32_t loads = kDefaultLoads;
  int32_t rounds = kDefaultRounds;
  if (!ParseInt32(argv[1], &kbytes) || (argc > 2 && !ParseInt32(argv[2], &loads)) ||
      (argc > 3 && !ParseInt32(argv[3], &rounds))) {
    fprintf(stderr, "memlat: every argument must be a whole number within 32 bits\n");
    Usage(stderr);
    return 2;
  }
  const char* text = MemLatency(rounds, kbytes, loads);
  printf("%s\n", text ? text : "Error: no text");
  return IsError(text) ? 1 : 0;
}
