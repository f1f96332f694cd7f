// A reference chase written apart from the module, to hold its figure against, and a way to run a
// program with transparent huge pages disabled (so the module's ordinary-page path can be timed).
//   memlat-reference --huge KBYTES | --4k KBYTES   prints "<ns> ns <share of huge pages>% huge"
//   memlat-reference --no-thp PROGRAM [ARGS...]
// Unlike the module it may take its time: it pins itself to one processor, builds its cycle from
// a shuffled index list, walks it more often and keeps the best of many rounds.
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kLine = 64;
constexpr size_t kHuge = 2u << 20;
constexpr int kRounds = 15;
constexpr double kRoundNs = 300e6;

// The thread's processor time, as the module uses: time spent switched out is not memory latency.
int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Xoshiro256 {
  uint64_t s[4];
  explicit Xoshiro256(uint64_t seed) {
    for (auto& word : s) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t Next() {
    const uint64_t result = Rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
  }
  uint64_t Below(uint64_t bound) {  // unbiased by rejection
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    uint64_t r;
    do r = Next();
    while (r >= limit);
    return r % bound;
  }
};

// 128 dependent loads per pass.
void* Walk(void* p, uint64_t passes) {
  asm volatile("1:\n\t.rept 128\n\tmovq (%0), %0\n\t.endr\n\tdecq %1\n\tjnz 1b\n\t"
               : "+r"(p), "+r"(passes)
               :
               : "memory", "cc");
  return p;
}

// kB of transparent huge pages in the mapping that holds address, from /proc/self/smaps.
long HugeKbAt(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long long from = 0, to = 0;
    if (sscanf(line.c_str(), "%llx-%llx ", &from, &to) == 2 && line.find(':') > line.find(' ')) {
      inside = at >= from && at < to;
    } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
      return atol(line.c_str() + strlen("AnonHugePages:"));
    }
  }
  return 0;
}

int Measure(bool huge, long kbytes) {
  cpu_set_t one;
  CPU_ZERO(&one);
  const int cpu = sched_getcpu();
  CPU_SET(cpu < 0 ? 0 : cpu, &one);
  sched_setaffinity(0, sizeof one, &one);

  const size_t bytes = static_cast<size_t>(kbytes) * 1024;
  const size_t n = bytes / kLine;
  const size_t length = (bytes + kHuge - 1) / kHuge * kHuge;
  void* mapping = mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    fprintf(stderr, "memlat-reference: no memory for %ld KBytes\n", kbytes);
    return 1;
  }
  char* base = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(mapping) + kHuge - 1) & ~(kHuge - 1));
  madvise(base, length, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  memset(base, 0, length);

  std::vector<uint64_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  Xoshiro256 random(20240611);
  for (size_t i = n - 1; i > 0; --i) std::swap(order[i], order[random.Below(i + 1)]);
  for (size_t k = 0; k < n; ++k)
    *reinterpret_cast<char**>(base + order[k] * kLine) = base + order[(k + 1) % n] * kLine;
  std::vector<uint64_t>().swap(order);

  void* p = base + 0;
  uint64_t warm = 4 * n < (8u << 20) ? 4 * n : (8u << 20);
  p = Walk(p, warm / 128 + 1);
  int64_t t0 = NowNs();
  p = Walk(p, 8192);
  const double rate = static_cast<double>(NowNs() - t0) / (8192.0 * 128);
  uint64_t passes = static_cast<uint64_t>(kRoundNs / rate / 128);
  if (passes < 1024) passes = 1024;
  if (passes > (1u << 18)) passes = 1u << 18;

  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    t0 = NowNs();
    p = Walk(p, passes);
    const double ns = static_cast<double>(NowNs() - t0) / static_cast<double>(passes * 128);
    if (ns < best) best = ns;
  }
  const long hugeKb = HugeKbAt(base);
  printf("%.4f ns %.0f%% huge\n", best,
         100.0 * static_cast<double>(hugeKb) * 1024 / static_cast<double>(length));
  munmap(mapping, length + kHuge);
  return p ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "--no-thp") == 0) {
    // Inherited across exec: the program's own MADV_HUGEPAGE is then refused.
    if (prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
      perror("memlat-reference: PR_SET_THP_DISABLE");
      return 1;
    }
    execv(argv[2], argv + 2);
    perror("memlat-reference: exec");
    return 1;
  }
  if (argc == 3 && (strcmp(argv[1], "--huge") == 0 || strcmp(argv[1], "--4k") == 0)) {
    const long kbytes = atol(argv[2]);
    if (kbytes >= 1) return Measure(strcmp(argv[1], "--huge") == 0, kbytes);
  }
  fprintf(stderr,
          "usage: memlat-reference --huge KBYTES | --4k KBYTES\n"
          "       memlat-reference --no-thp PROGRAM [ARGS...]\n");
  return 2;
}
