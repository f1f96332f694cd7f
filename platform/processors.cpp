#include "platform/processors.h"

#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <cstring>

namespace platform {

std::vector<int> AllowedProcessors() {
  std::vector<int> cpus;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
      if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  if (cpus.empty()) cpus.push_back(0);
  return cpus;
}

bool PinCurrentThread(int cpu) {
  if (cpu < 0 || cpu >= CPU_SETSIZE) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

uint64_t AvailableMemoryBytes() {
  FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) return 0;
  char line[256];
  unsigned long long kb = 0;
  while (std::fgets(line, sizeof line, file) != nullptr)
    if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
  std::fclose(file);
  return static_cast<uint64_t>(kb) * 1024;
}

}  // namespace platform
