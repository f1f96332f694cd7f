#include "core/report_summary.h"

#include <string>

#include "core/host.h"
#include "sysinfo/panels.h"
#include "sysinfo/text.h"

namespace core {
namespace {

void Put(std::FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

void Row(std::FILE* out, const char* name, const std::string& text) {
  Put(out, std::string(name) + "\t" + text + "\n");
}

}  // namespace

void PrintReportSummary(const sysinfo::SystemSpec& spec, std::FILE* out) {
  for (const std::string& line : spec.lines) Put(out, line + "\n");
  Put(out, "\n");
  const double memoryClock = sysinfo::MemoryClock(spec);
  const sysinfo::PanelTexts p = sysinfo::ComposePanels(spec, memoryClock);
  Row(out, "osp", p.osp);
  Row(out, "cpup", p.cpup);
  Row(out, "cpucores", p.cpucores);
  Row(out, "cpuclockp", p.cpuclockp);
  Row(out, "ramp", p.ramp);
  Row(out, "ramtimip", p.ramtimip);
  Row(out, "mainbp", p.mainbp);
  Row(out, "ramp1", p.ramp1());
  Row(out, "ramp2", p.ramp2());
  Row(out, "ramp3", p.ramp3());
  Row(out, "ramp4", p.ramp4());
  Row(out, "MemoryClock", sysinfo::ShortestNumberText(memoryClock));
  Row(out, "IDHASH", sysinfo::MachineIdHash(spec));
  Row(out, "LargestCacheKBytes", LargestCacheKBytes(spec));
  std::fflush(out);
}

}  // namespace core
