#include "sysreport/cpu.h"

#include <cpuid.h>
#include <linux/perf_event.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <x86intrin.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace sysreport {

namespace {

struct CpuidFacts {
  bool known = false;
  std::string vendor, brand, hypervisorVendor;
  bool hypervisorBit = false;
  std::vector<CacheFacts> caches;  // with instances = logical processors sharing one
};

std::string Regs(uint32_t a, uint32_t b, uint32_t c) {
  char s[13];
  std::memcpy(s, &a, 4);
  std::memcpy(s + 4, &b, 4);
  std::memcpy(s + 8, &c, 4);
  s[12] = 0;
  return std::string(s);
}

void CacheLeaf(uint32_t leaf, CpuidFacts* f) {
  for (uint32_t sub = 0; sub < 16; ++sub) {
    unsigned a, b, c, d;
    __cpuid_count(leaf, sub, a, b, c, d);
    const unsigned type = a & 0x1F;
    if (type == 0) break;
    CacheFacts cache;
    cache.level = static_cast<int>((a >> 5) & 7);
    cache.type = type == 1 ? "Data" : type == 2 ? "Instruction" : "Unified";
    cache.ways = static_cast<int>(((b >> 22) & 0x3FF) + 1);
    cache.lineSize = static_cast<int>((b & 0xFFF) + 1);
    const uint64_t partitions = ((b >> 12) & 0x3FF) + 1;
    const uint64_t sets = static_cast<uint64_t>(c) + 1;
    cache.sizeKBytes = static_cast<uint64_t>(cache.ways) * partitions * cache.lineSize * sets / 1024;
    cache.instances = static_cast<int>(((a >> 14) & 0xFFF) + 1);  // sharing count, resolved later
    if ((a >> 9) & 1) cache.ways = 0;                             // fully associative
    f->caches.push_back(cache);
  }
}

CpuidFacts LiveCpuid() {
  CpuidFacts f;
  unsigned a, b, c, d;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return f;
  f.known = true;
  const unsigned maxLeaf = a;
  f.vendor = Regs(b, d, c);
  // Leaf 1: the hypervisor bit, and the logical processors per package when HTT is set.
  int packageThreads = 0;
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    f.hypervisorBit = (c >> 31) & 1;
    if ((d >> 28) & 1) packageThreads = static_cast<int>((b >> 16) & 0xFF);
  }
  if (f.hypervisorBit) {
    __cpuid(0x40000000, a, b, c, d);
    f.hypervisorVendor = Trim(Regs(b, c, d));
  }
  const unsigned maxExt = __get_cpuid_max(0x80000000, nullptr);
  if (maxExt >= 0x80000004) {
    std::string brand;
    for (unsigned leaf = 0x80000002; leaf <= 0x80000004; ++leaf) {
      __cpuid(leaf, a, b, c, d);
      brand += Regs(a, b, c) + Regs(d, 0, 0).substr(0, 4);
    }
    f.brand = Trim(brand.c_str());
  }
  if (f.vendor == "GenuineIntel" && maxLeaf >= 4)
    CacheLeaf(4, &f);
  else if (maxExt >= 0x8000001D)
    CacheLeaf(0x8000001D, &f);
  if (f.caches.empty() && f.vendor != "GenuineIntel" && maxExt >= 0x80000006) {
    // Some hypervisors leave the topology leaf empty but still answer the older ones.
    unsigned l1a, l1b, l1c, l1d, l2a, l2b, l2c, l2d;
    __cpuid(0x80000005, l1a, l1b, l1c, l1d);
    __cpuid(0x80000006, l2a, l2b, l2c, l2d);
    // Logical processors per package over cores per package (0x80000008), when told.
    int threadsPerCore = 1;
    if (packageThreads > 0 && maxExt >= 0x80000008) {
      __cpuid(0x80000008, a, b, c, d);
      const int cores = static_cast<int>(c & 0xFF) + 1;
      if (packageThreads % cores == 0) threadsPerCore = packageThreads / cores;
    }
    f.caches = AmdLegacyCaches(l1c, l1d, l2c, l2d, threadsPerCore, packageThreads);
  }
  return f;
}

// Ways as leaf 0x80000006 encodes them; 0 when not told (0x9 sends the reader to 0x8000001D, 0xF
// is fully associative).
int AmdL2L3Ways(uint32_t code) {
  static constexpr int kWays[16] = {0, 1, 2, 3, 4, 6, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0};
  return kWays[code & 0xF];
}

// <root>/.cpuid: "key=value" lines standing in for the processor's answers in a fixture tree.
// cache=LEVEL TYPE SIZE_KBYTES WAYS LINE INSTANCES
CpuidFacts FixtureCpuid(const std::string& text) {
  CpuidFacts f;
  f.known = true;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    if (key == "vendor")
      f.vendor = value;
    else if (key == "brand")
      f.brand = value;
    else if (key == "hypervisor") {
      f.hypervisorBit = true;
      f.hypervisorVendor = value;
    } else if (key == "cache") {
      std::istringstream v(value);
      CacheFacts c;
      if (v >> c.level >> c.type >> c.sizeKBytes >> c.ways >> c.lineSize >> c.instances)
        f.caches.push_back(c);
    }
  }
  return f;
}

// "48K", "2048K", "32M" to KBytes.
uint64_t SizeKBytes(const std::string& text) {
  try {
    size_t used = 0;
    const uint64_t n = std::stoull(text, &used);
    const char unit = used < text.size() ? text[used] : 'K';
    if (unit == 'M') return n * 1024;
    if (unit == 'G') return n * 1024 * 1024;
    if (unit == 'K') return n;
    return n / 1024;  // plain bytes
  } catch (...) {
    return 0;
  }
}

std::vector<int> OnlineCpus(const Root& root) {
  std::vector<int> cpus = ParseCpuList(root.Attribute("/sys/devices/system/cpu/online"));
  if (!cpus.empty()) return cpus;
  for (const std::string& name : root.List("/sys/devices/system/cpu")) {
    if (name.size() > 3 && name.size() < 9 && StartsWith(name, "cpu") &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
      cpus.push_back(std::stoi(name.substr(3)));
    }
  }
  return cpus;
}

// Caches as the kernel lists them; instances are the distinct sharing sets. Caches of one level
// but another geometry (the two core kinds of a hybrid processor) are listed apart.
std::vector<CacheFacts> SysfsCaches(const Root& root, const std::vector<int>& cpus) {
  using Kind = std::tuple<int, std::string, uint64_t, int, int>;
  std::map<Kind, CacheFacts> byKind;
  std::map<Kind, std::set<std::string>> sharing;
  for (int cpu : cpus) {
    const std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache";
    for (const std::string& index : root.List(base)) {
      if (!StartsWith(index, "index")) continue;
      const std::string dir = base + "/" + index + "/";
      CacheFacts c;
      try {
        c.level = std::stoi(root.Attribute(dir + "level"));
      } catch (...) {
        continue;
      }
      c.type = root.Attribute(dir + "type");
      c.sizeKBytes = SizeKBytes(root.Attribute(dir + "size"));
      try {
        c.ways = std::stoi(root.Attribute(dir + "ways_of_associativity"));
      } catch (...) {
        // not given (some virtual machines): the report leaves the associativity out
      }
      try {
        c.lineSize = std::stoi(root.Attribute(dir + "coherency_line_size"));
      } catch (...) {
        // not given: the report leaves the line size out
      }
      if (c.sizeKBytes == 0 || c.type.empty()) continue;
      const Kind key{c.level, c.type, c.sizeKBytes, c.ways, c.lineSize};
      byKind.emplace(key, c);
      std::string shared = root.Attribute(dir + "shared_cpu_list");
      if (shared.empty()) shared = "cpu" + std::to_string(cpu);
      sharing[key].insert(shared);
    }
  }
  std::vector<CacheFacts> out;
  for (auto& [key, c] : byKind) {
    c.instances = static_cast<int>(sharing[key].size());
    out.push_back(c);
  }
  return out;
}

std::map<std::string, std::string> FirstCpuinfoBlock(const std::string& text, int* processors,
                                                     double* meanMHz) {
  std::map<std::string, std::string> first;
  std::istringstream in(text);
  std::string line;
  double sum = 0;
  int withMHz = 0;
  *processors = 0;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, colon));
    const std::string value = Trim(line.substr(colon + 1));
    if (key == "processor") ++*processors;
    if (key == "cpu MHz") {
      try {
        sum += std::stod(value);
        ++withMHz;
      } catch (...) {
        // a processor without a clock does not count towards the mean
      }
    }
    if (*processors <= 1) first.emplace(key, value);
  }
  *meanMHz = withMHz ? sum / withMHz : 0;
  return first;
}

double ThreadSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Cycles this thread spends in a short busy loop divided by the processor time it got: the clock
// the core really runs at under load. Processor time, not wall time, because the load workers
// share the cores with us. Needs a cycle counter the kernel lets us open (often none in a
// virtual machine); 0 when there is none.
double CountedCoreMHz() {
  perf_event_attr attr{};
  attr.type = PERF_TYPE_HARDWARE;
  attr.size = sizeof attr;
  attr.config = PERF_COUNT_HW_CPU_CYCLES;
  attr.disabled = 1;
  attr.exclude_kernel = 1;
  attr.exclude_hv = 1;
  const int fd = static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
  if (fd < 0) return 0;
  ::ioctl(fd, PERF_EVENT_IOC_RESET, 0);
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = ThreadSeconds();
  ::ioctl(fd, PERF_EVENT_IOC_ENABLE, 0);
  volatile uint64_t spin = 0;
  while (ThreadSeconds() - cpu0 < 0.05 &&
         std::chrono::steady_clock::now() - wall0 < std::chrono::milliseconds(250)) {
    for (int i = 0; i < 10000; ++i) spin = spin + 1;
  }
  ::ioctl(fd, PERF_EVENT_IOC_DISABLE, 0);
  const double seconds = ThreadSeconds() - cpu0;
  uint64_t cycles = 0;
  const bool ok = ::read(fd, &cycles, sizeof cycles) == static_cast<ssize_t>(sizeof cycles);
  ::close(fd);
  if (!ok || cycles == 0 || seconds < 0.01) return 0;
  return static_cast<double>(cycles) / seconds / 1e6;
}

// Keeps this thread busy for a short while and returns the processor it ran on, so that the
// kernel's current frequency of that core is the clock under load; -1 when it moved.
int BusyCpu() {
  const int before = ::sched_getcpu();
  const auto t0 = std::chrono::steady_clock::now();
  volatile uint64_t spin = 0;
  while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(30)) spin = spin + 1;
  const int after = ::sched_getcpu();
  return before == after ? after : -1;
}

// Time-stamp counter ticks over a busy interval: the nominal clock on processors whose counter
// runs at a fixed rate, so only the last resort.
double TscMHz() {
  const auto t0 = std::chrono::steady_clock::now();
  const uint64_t c0 = __rdtsc();
  volatile uint64_t spin = 0;
  while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(40)) spin = spin + 1;
  const uint64_t c1 = __rdtsc();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return seconds > 0 ? static_cast<double>(c1 - c0) / seconds / 1e6 : 0;
}

}  // namespace

std::string HypervisorName(const std::string& signature) {
  static const std::map<std::string, std::string> names = {
      {"KVMKVMKVM", "KVM"},     {"Microsoft Hv", "Hyper-V"}, {"VMwareVMware", "VMware"},
      {"XenVMMXenVMM", "Xen"},  {"TCGTCGTCGTCG", "QEMU"},    {"VBoxVBoxVBox", "VirtualBox"},
      {"bhyve bhyve", "bhyve"}, {"ACRNACRNACRN", "ACRN"},    {"lrpepyh  vr", "Parallels"},
      {"Linux KVM Hv", "KVM"}};
  const std::string s = Trim(signature);
  const auto it = names.find(s);
  return it != names.end() ? it->second : s;
}

std::vector<CacheFacts> AmdLegacyCaches(uint32_t l1Ecx, uint32_t l1Edx, uint32_t l2Ecx, uint32_t l2Edx,
                                        int threadsPerCore, int allThreads) {
  std::vector<CacheFacts> out;
  auto add = [&](int level, const char* type, uint64_t kbytes, int ways, uint32_t reg, int sharing) {
    if (kbytes == 0) return;  // absent or disabled
    CacheFacts c;
    c.level = level;
    c.type = type;
    c.sizeKBytes = kbytes;
    c.ways = ways;
    c.lineSize = static_cast<int>(reg & 0xFF);
    c.instances = std::max(1, sharing);
    out.push_back(c);
  };
  // L1: size in KBytes in bits 31-24, ways in 23-16 (0xFF fully associative), line in 7-0.
  auto l1Ways = [](uint32_t reg) {
    const int ways = static_cast<int>((reg >> 16) & 0xFF);
    return ways == 0xFF ? 0 : ways;
  };
  add(1, "Data", l1Ecx >> 24, l1Ways(l1Ecx), l1Ecx, threadsPerCore);
  add(1, "Instruction", l1Edx >> 24, l1Ways(l1Edx), l1Edx, threadsPerCore);
  // L2: KBytes in bits 31-16; L3: 512 KByte units in bits 31-18; ways coded in 15-12 of both.
  if (((l2Ecx >> 12) & 0xF) != 0)
    add(2, "Unified", l2Ecx >> 16, AmdL2L3Ways(l2Ecx >> 12), l2Ecx, threadsPerCore);
  if (((l2Edx >> 12) & 0xF) != 0)
    add(3, "Unified", uint64_t{l2Edx >> 18} * 512, AmdL2L3Ways(l2Edx >> 12), l2Edx,
        allThreads > 0 ? allThreads : 4096);  // one per package; unknown: one in all
  return out;
}

std::string CacheText(const CacheFacts& c) {
  std::string size = (c.sizeKBytes >= 1024 && c.sizeKBytes % 1024 == 0)
                         ? std::to_string(c.sizeKBytes / 1024) + " MBytes"
                         : std::to_string(c.sizeKBytes) + " KBytes";
  std::string text = (c.instances > 1 ? std::to_string(c.instances) + " x " : "") + size;
  if (c.ways > 0) text += ", " + std::to_string(c.ways) + "-way set associative";
  if (c.lineSize > 0) text += ", " + std::to_string(c.lineSize) + "-byte line size";
  return text;
}

namespace {

// Topology: logical processors online, distinct cores and packages among them; the online
// processors.
std::vector<int> ReadTopology(const Root& root, int processors, std::map<std::string, std::string>& info,
                              CpuFacts* out) {
  CpuFacts& f = *out;
  const std::vector<int> cpus = OnlineCpus(root);
  std::set<std::pair<std::string, std::string>> cores;
  std::set<std::string> packages;
  for (int cpu : cpus) {
    const std::string t = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
    const std::string package = root.Attribute(t + "physical_package_id");
    const std::string core = root.Attribute(t + "core_id");
    if (package.empty() || core.empty()) continue;
    packages.insert(package);
    cores.insert({package, core});
  }
  f.threads = !cpus.empty() ? static_cast<int>(cpus.size()) : processors;
  f.cores = !cores.empty() ? static_cast<int>(cores.size()) : 0;
  f.sockets = !packages.empty() ? static_cast<int>(packages.size()) : 0;
  if (f.cores == 0 && !info["cpu cores"].empty()) {
    try {
      f.cores = std::stoi(info["cpu cores"]);
      f.sockets = f.sockets ? f.sockets : 1;
    } catch (...) {
      // no number: the core count stays unknown (0)
    }
  }

  return cpus;
}

// The current clock: counted over a busy interval, else the kernel's figures, else the
// time-stamp counter.
void ReadCoreClock(const Root& root, const Deadline& deadline, const std::vector<int>& cpus,
                   double cpuinfoMHz, CpuFacts* out) {
  CpuFacts& f = *out;
  // Measured while the load workers keep every core busy.
  if (root.Live() && !deadline.Passed()) {
    f.coreMHz = CountedCoreMHz();
    if (f.coreMHz > 0) f.clockSource = "core cycles counted over a busy interval";
  }
  if (f.coreMHz <= 0) {
    // The kernel's current frequency of the core that is busy: on the live machine the one this
    // thread has just kept busy, in a tree the fastest listed (the load workers keep cores busy
    // while the report is gathered; idle cores would pull a mean down).
    auto curMHz = [&](int cpu) {
      const std::string khz =
          root.Attribute("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/scaling_cur_freq");
      try {
        return khz.empty() ? 0.0 : std::stod(khz) / 1000.0;
      } catch (...) {
        return 0.0;
      }
    };
    if (root.Live() && !deadline.Passed()) {
      const int cpu = BusyCpu();
      if (cpu >= 0) f.coreMHz = curMHz(cpu);
      if (f.coreMHz > 0)
        f.clockSource =
            "kernel's current frequency of the busy core (cpufreq, cpu" + std::to_string(cpu) + ")";
    }
    if (f.coreMHz <= 0) {
      int busiest = -1;
      for (int cpu : cpus) {
        const double mhz = curMHz(cpu);
        if (mhz > f.coreMHz && mhz < 1e6) {
          f.coreMHz = mhz;
          busiest = cpu;
        }
      }
      if (busiest >= 0)
        f.clockSource = "kernel's current frequency (cpufreq), fastest core, cpu" + std::to_string(busiest);
    }
  }
  if (f.coreMHz <= 0 && cpuinfoMHz > 0) {
    f.coreMHz = cpuinfoMHz;
    f.clockSource = "kernel's cpu MHz (/proc/cpuinfo)";
  }
  if (f.coreMHz <= 0 && root.Live() && !deadline.Passed()) {
    f.coreMHz = TscMHz();
    if (f.coreMHz > 0) f.clockSource = "time-stamp counter (nominal clock)";
  }
}

// A few instruction set extensions the user recognises, in the processor's own words.
std::vector<std::string> InstructionSets(const std::string& cpuinfoFlags) {
  std::vector<std::string> sets;
  static const std::pair<const char*, const char*> kFlags[] = {
      {"mmx", "MMX"},          {"sse", "SSE"},       {"sse2", "SSE2"},     {"pni", "SSE3"},
      {"ssse3", "SSSE3"},      {"sse4_1", "SSE4.1"}, {"sse4_2", "SSE4.2"}, {"lm", "x86-64"},
      {"aes", "AES"},          {"avx", "AVX"},       {"avx2", "AVX2"},     {"fma", "FMA3"},
      {"avx512f", "AVX-512F"}, {"sha_ni", "SHA"}};
  std::set<std::string> flags;
  std::istringstream fl(cpuinfoFlags);
  for (std::string w; fl >> w;) flags.insert(w);
  for (const auto& [flag, name] : kFlags)
    if (flags.count(flag)) sets.push_back(name);
  return sets;
}

}  // namespace

CpuFacts ProbeCpu(const Root& root, const Deadline& deadline) {
  CpuFacts f;
  CpuidFacts id;
  const std::optional<std::string> fixture = root.Read("/.cpuid");
  const bool fromFixture = fixture.has_value();
  if (fromFixture)
    id = FixtureCpuid(*fixture);
  else if (root.Live())
    id = LiveCpuid();

  int processors = 0;
  double cpuinfoMHz = 0;
  std::map<std::string, std::string> info;
  if (const std::optional<std::string> text = root.Read("/proc/cpuinfo", 1024 * 1024)) {
    info = FirstCpuinfoBlock(*text, &processors, &cpuinfoMHz);
  }
  f.vendor = !id.vendor.empty() ? id.vendor : info["vendor_id"];
  f.brand = !id.brand.empty() ? id.brand : info["model name"];
  f.family = info["cpu family"];
  f.model = info["model"];
  f.stepping = info["stepping"];
  f.hypervisorBit = id.hypervisorBit;
  f.hypervisorVendor = id.hypervisorVendor;

  const std::vector<int> cpus = ReadTopology(root, processors, info, &f);

  f.caches = SysfsCaches(root, cpus);
  if (f.caches.empty()) {
    f.caches = id.caches;
    // Live CPUID gives the processors sharing one cache; the thread count gives the copies.
    // A fixture's .cpuid lists the copies itself.
    if (!fromFixture) {
      for (CacheFacts& c : f.caches)
        c.instances = (f.threads > 0 && c.instances > 0) ? std::max(1, f.threads / c.instances) : 1;
    }
  }

  ReadCoreClock(root, deadline, cpus, cpuinfoMHz, &f);
  f.instructions = InstructionSets(info["flags"]);
  return f;
}

}  // namespace sysreport
