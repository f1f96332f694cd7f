// Every text the module delivers or prints, in one place, exactly as users and the host's
// parser know them.
#pragma once

namespace membw_internal {

// Refusals and failures, delivered through the output function.
constexpr char kInvalidPassSize[] = "ERROR: invalid pass size";
constexpr char kInvalidArraySize[] = "ERROR: invalid array size";
constexpr char kInvalidPrefetchMode[] = "\nERROR: invalid software prefetch mode\n";
constexpr char kNoTimeCounter[] = "ERROR: no support for high-resolution time counters";
constexpr char kNoMmx[] = "ERROR: no MMX support available";
constexpr char kNoMmxPlus[] = "ERROR: no MMX+ support available";
constexpr char kUnknownBenchmark[] = "\nERROR: unknown benchmark ID";
// Our own guards for command lines and sizes the benchmark cannot handle.
constexpr char kTooManyWords[] = "ERROR: command line has more than 52 words";
constexpr char kWordTooLong[] = "ERROR: command line word longer than 99 characters";
constexpr char kArrayExceedsPass[] = "ERROR: array size larger than the pass size";
constexpr char kNoMemory[] = "ERROR: not enough memory for the benchmark buffers";
constexpr char kTooShort[] = "ERROR: measurement too short to time (0 ms), use a larger pass size";

constexpr char kPassSizeMode[] = "%uGb per pass mode";
constexpr char kBenchmarkNumber[] = "Benchmark #%u:";
constexpr char kHeapError[] = "heap error\n";

// Standard error diagnostics of the option scanner: program path, then the option letter.
constexpr char kUnknownOption[] = "%s: unknown option -- %c\n";
constexpr char kMissingArgument[] = "%s: option requires an argument -- %c\n";

constexpr char kUsage[] =
    "\n"
    "USAGE: membw -b ID [-g size] [-m size] [-l runs]\n"
    "-b  runs a specified benchmark (by an ID number):\n"
    "     1 -- INTmark [writing]          4 -- FLOATmark [writing]\n"
    "     2 -- INTmark [reading]          5 -- FLOATmark [reading]\n"
    "     3 -- INTmem                     6 -- FLOATmem\n"
    "     7 -- MMXmark [writing]         10 -- MMXmark (nt) [writing]\n"
    "     8 -- MMXmark [reading]         11 -- MMXmark (nt) [reading]\n"
    "     9 -- MMXmem                    12 -- MMXmem (nt)\n"
    "-g  specifies a # of Gbytes per pass (default is 8)\n"
    "-m  specifies a # of Mbytes per array (default is 32)\n"
    "-l  enables the BatchRun mode (for *mem benchmarks only),\n"
    "    and specifies a # of runs (suggested is 5)\n"
    "-t  changes software prefetch mode (see the manual for details)\n"
    "-i  displays processor related information (CPUinfo)\n";

// The lines of one benchmark family: two sweep lines, the array test's result lines (Copy,
// Scale, Add, Triad, AVERAGE) and their BatchRun counterparts with the BatchRun header.
struct FamilyLines {
  const char* writing;
  const char* reading;
  const char* result[5];
  const char* batchHeader;
  const char* batchResult[5];
};

constexpr FamilyLines kIntLines{
    "INTEGER & WRITING  %8u Kb block: %.2f Mb/s",
    "INTEGER & READING  %8u Kb block: %.2f Mb/s",
    {"INTEGER   Copy:      %.2f Mb/s", "INTEGER   Scale:     %.2f Mb/s", "INTEGER   Add:       %.2f Mb/s",
     "INTEGER   Triad:     %.2f Mb/s", "---\nINTEGER   AVERAGE:   %.2f Mb/s"},
    "%u-benchmark INTmem BatchRun mode",
    {"INTEGER BatchRun   Copy:      %.2f Mb/s", "INTEGER BatchRun   Scale:     %.2f Mb/s",
     "INTEGER BatchRun   Add:       %.2f Mb/s", "INTEGER BatchRun   Triad:     %.2f Mb/s",
     "---\nINTEGER BatchRun   AVERAGE:   %.2f Mb/s"},
};

constexpr FamilyLines kFloatLines{
    "FL-POINT & WRITING %8u Kb block: %.2f Mb/s",
    "FL-POINT & READING %8u Kb block: %.2f Mb/s",
    {"FL-POINT  Copy:      %.2f Mb/s", "FL-POINT  Scale:     %.2f Mb/s", "FL-POINT  Add:       %.2f Mb/s",
     "FL-POINT  Triad:     %.2f Mb/s", "---\nFL-POINT  AVERAGE:   %.2f Mb/s"},
    "%u-benchmark FLOATmem BatchRun mode",
    {"FL-POINT BatchRun  Copy:      %.2f Mb/s", "FL-POINT BatchRun  Scale:     %.2f Mb/s",
     "FL-POINT BatchRun  Add:       %.2f Mb/s", "FL-POINT BatchRun  Triad:     %.2f Mb/s",
     "---\nFL-POINT BatchRun  AVERAGE:   %.2f Mb/s"},
};

constexpr FamilyLines kMmxLines{
    "MMX & WRITING      %8u Kb block: %.2f Mb/s\n",
    "MMX & READING      %8u Kb block: %.2f Mb/s",
    {"MMX       Copy:      %.2f Mb/s", "MMX       Scale:     %.2f Mb/s", "MMX       Add:       %.2f Mb/s",
     "MMX       Triad:     %.2f Mb/s", "---\nMMX       AVERAGE:   %.2f Mb/s"},
    "%u-benchmark MMXmem BatchRun mode",
    {"MMX BatchRun       Copy:      %.2f Mb/s", "MMX BatchRun       Scale:     %.2f Mb/s",
     "MMX BatchRun       Add:       %.2f Mb/s", "MMX BatchRun       Triad:     %.2f Mb/s",
     "---\nMMX BatchRun       AVERAGE:   %.2f Mb/s"},
};

constexpr FamilyLines kMmxNtLines{
    "MMX (nt) & WRITING %8u Kb block: %.2f Mb/s",
    "MMX (nt) & READING %8u Kb block: %.2f Mb/s",
    {"MMX (nt)  Copy:      %.2f Mb/s  ", "MMX (nt)  Scale:     %.2f Mb/s  ",
     "MMX (nt)  Add:       %.2f Mb/s  ", "MMX (nt)  Triad:     %.2f Mb/s  ",
     "---\nMMX (nt)  AVERAGE:   %.2f Mb/s"},
    "%u-benchmark MMXmem (non-temporal) BatchRun mode",
    {"MMX (nt) BatchRun  Copy:      %.2f Mb/s  ", "MMX (nt) BatchRun  Scale:     %.2f Mb/s  ",
     "MMX (nt) BatchRun  Add:       %.2f Mb/s  ", "MMX (nt) BatchRun  Triad:     %.2f Mb/s  ",
     "---\nMMX (nt) BatchRun  AVERAGE:   %.2f Mb/s\n\n"},
};

constexpr char kNtaLabel[] = "[NTA prefetch]";
constexpr char kNtaLabelEol[] = "[NTA prefetch]\n";
constexpr char kT0Label[] = "[T0 prefetch]";
constexpr char kT0LabelEol[] = "[T0 prefetch]\n";

}  // namespace membw_internal
