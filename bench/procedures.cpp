#include "procedures.h"

#include "format.h"
#include "timing.h"

namespace membw_internal {

CounterObserver counterObserver = nullptr;

namespace {

void Deliver(MembwOutput output, const char* format, double value) {
  char buffer[500] = {};
  FormatText(buffer, sizeof buffer, format, value);
  output(buffer);
}

// Turns a kernel's failure into its message; true when the time can be used.
bool Usable(uint32_t ms, MembwOutput output) {
  if (ms == kKernelNoMemory) {
    output(kNoMemory);
    return false;
  }
  if (ms == 0) {
    output(kTooShort);
    return false;
  }
  return true;
}

}  // namespace

Labels PrefetchLabels(int32_t p) {
  return Labels{
      {p == 2 ? kT0Label : kNtaLabel, p == 2 ? kT0Label : kNtaLabelEol, p == 1 ? kNtaLabelEol : kT0Label,
       p == 1 ? kNtaLabel : kT0Label},
      {p == 2 ? kT0Label : kNtaLabel, p == 2 ? kT0LabelEol : kNtaLabelEol,
       p == 1 ? kNtaLabelEol : kT0LabelEol, p == 1 ? kNtaLabelEol : kT0LabelEol},
  };
}

double SweepRate(uint32_t passGb, uint32_t ms) {
  const uint32_t mb = passGb * 1024u;
  return (mb * 1000.0) / ms;
}

double ArrayRate(uint32_t passGb, uint32_t arrays, uint32_t ms) {
  const uint32_t mb = passGb * 1024u * arrays;
  return (mb * 1000.0) / ms;
}

int BlockSweep(const char* line, Kernel kernel, const RunSettings& s, MembwOutput output) {
  const uint32_t volumeKb = s.passGb << 20;
  // The loop ends after A; A never exceeds 2^21 Kb, so doubling cannot wrap to 0.
  for (uint32_t block = 1; block <= s.arrayKb; block *= 2) {
    const uint32_t reps = volumeKb / block;
    const uint32_t ms = kernel(block, reps);
    if (!Usable(ms, output)) return 1;
    char buffer[500] = {};
    FormatText(buffer, sizeof buffer, line, block, SweepRate(s.passGb, ms));
    output(buffer);
  }
  return 0;
}

int ArrayTest(const FamilyLines& lines, const Kernel kernels[4], const Labels* labels, const RunSettings& s,
              MembwOutput output) {
  static constexpr uint32_t kArrays[4] = {2, 2, 3, 3};  // arrays each kernel streams per pass
  const uint32_t passes = (s.passGb << 20) / s.arrayKb;
  const bool batch = s.runs > 1;
  double sums[4] = {0, 0, 0, 0};
  char buffer[500] = {};
  if (batch) {
    FormatText(buffer, sizeof buffer, lines.batchHeader, s.runs);
    output(buffer);
  }
  for (uint32_t run = 1; run <= s.runs; ++run) {
    if (batch) {
      FormatText(buffer, sizeof buffer, kBenchmarkNumber, run);
      output(buffer);
    }
    double rates[4];
    for (int k = 0; k < 4; ++k) {
      const uint32_t ms = kernels[k](s.arrayKb, passes);
      if (!Usable(ms, output)) return 1;
      rates[k] = ArrayRate(s.passGb, kArrays[k], ms);
      Deliver(output, lines.result[k], rates[k]);
      if (labels) output(labels->result[k]);
    }
    Deliver(output, lines.result[4], (rates[0] + rates[1] + rates[2] + rates[3]) / 4);
    if (batch)
      for (int k = 0; k < 4; ++k) sums[k] += rates[k];
  }
  if (batch) {
    for (int k = 0; k < 4; ++k) {
      Deliver(output, lines.batchResult[k], sums[k] / s.runs);
      if (labels) output(labels->batch[k]);
    }
    Deliver(output, lines.batchResult[4], (sums[0] + sums[1] + sums[2] + sums[3]) / (4.0 * s.runs));
  }
  return 0;
}

}  // namespace membw_internal
