// The hardware report tool: started with "-txt=PATH", it writes PATH.txt and exits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "sysreport/gather.h"

namespace {

// Written to a sibling and renamed, so a reader finds the whole report or none.
bool WriteReport(const std::string& path, const std::string& text) {
  const std::string part = path + ".part";
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok || std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string base;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "-txt=", 5) == 0) base = argv[i] + 5;
  if (base.empty()) {
    std::fprintf(stderr, "usage: sysreport -txt=PATH   (writes PATH.txt)\n");
    return 1;
  }
  const char* root = std::getenv("QUORVEX_SYSROOT");
  const sysreport::Root machine(root && *root ? root : "/");
  const sysreport::Deadline deadline(std::chrono::milliseconds(1500));
  std::string text;
  try {
    text = sysreport::BuildReport(machine, deadline);
  } catch (const std::exception& e) {
    // No report is better than half of one: the program then shows every fact as unknown.
    std::fprintf(stderr, "sysreport: %s\n", e.what());
    return 1;
  }
  if (!WriteReport(base + ".txt", text)) {
    std::fprintf(stderr, "sysreport: cannot write %s.txt\n", base.c_str());
    return 1;
  }
  return 0;
}
