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

Labels PrefetchLabels(const bool t0[4]) {
  // A result line's label ends its line only after Scale and Add, and only for NTA; every
  // BatchRun label but the first ends its line.
  Labels labels{};
  for (int k = 0; k < 4; ++k) {
    const bool resultEol = !t0[k] && (k == 1 || k == 2);
    labels.result[k] = t0[k] ? kT0Label : resultEol ? kNtaLabelEol : kNtaLabel;
    labels.batch[k] = t0[k] ? (k > 0 ? kT0LabelEol : kT0Label) : (k > 0 ? kNtaLabelEol : kNtaLabel);
  }
  return labels;
}

double Rate(uint32_t passGb, uint32_t arrays, uint32_t ms) {
  const uint32_t mb = passGb * 1024u * arrays;
  return (mb * 1000.0) / ms;
}

int BlockSweep(const char* line, KernelTraffic kernel, const RunSettings& s, MembwOutput output) {
  const uint32_t volumeKb = s.passGb << 20;
  // The loop ends after A; A never exceeds 2^21 Kb, so doubling cannot wrap to 0.
  for (uint32_t block = 1; block <= s.arrayKb; block *= 2) {
    const uint32_t reps = volumeKb / block;
    const uint32_t ms = kernel.kernel(block, reps);
    if (!Usable(ms, output)) return 1;
    char buffer[500] = {};
    FormatText(buffer, sizeof buffer, line, block, Rate(s.passGb, kernel.arrays, ms));
    output(buffer);
  }
  return 0;
}

int ArrayTest(const FamilyLines& lines, const KernelTraffic kernels[4], const Labels* labels,
              const RunSettings& s, MembwOutput output) {
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
      const uint32_t ms = kernels[k].kernel(s.arrayKb, passes);
      if (!Usable(ms, output)) return 1;
      rates[k] = Rate(s.passGb, kernels[k].arrays, ms);
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
