// quorvex-cli: the command line read with CLI11 into each command's options. A usage error
// (unknown option, missing or bad value, no command) ends with its message and exit code 2;
// --help prints the help CLI11 makes from the options below.
#include <CLI/CLI.hpp>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "core/numeric.h"

namespace {

// A number with "." as decimal point whatever the locale, as the program writes them.
const CLI::Validator kDecimal(
    [](std::string& text) {
      return core::ParseDecimal(text) ? std::string()
                                      : std::string("needs a number with \".\" as decimal point");
    },
    "NUMBER");

const CLI::Validator kTestList(
    [](std::string& list) {
      std::stringstream words(list);
      std::string word;
      while (std::getline(words, word, ','))
        if (!word.empty() && word != "read" && word != "write" && word != "copy" && word != "latency")
          return "unknown test \"" + word + "\"";
      return std::string();
    },
    "read,write,copy,latency");

const CLI::Validator kPowerOfTwo(
    [](std::string& text) {
      const auto n = core::ParseInteger(text);
      return n && *n >= 1 && *n <= 64 && (*n & (*n - 1)) == 0 ? std::string()
                                                              : std::string("takes 1, 2, 4 ... 64");
    },
    "GB");

std::optional<double> Decimal(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return core::ParseDecimal(text);
}

std::set<std::string> Tests(const std::string& list) {
  std::set<std::string> tests;
  std::stringstream words(list);
  std::string word;
  while (std::getline(words, word, ','))
    if (!word.empty()) tests.insert(word);
  return tests;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quorvex, the memory benchmark, in a terminal.", "quorvex-cli"};
  app.require_subcommand(1);

  cli::ReportOptions report;
  CLI::App* reportCommand =
      app.add_subcommand("report", "Convert a hardware report and print what the program makes of it")
          ->footer(
              "Prints every system specification line (KEY \"VALUE\"), an empty line, then osp, cpup, "
              "cpucores,\n"
              "cpuclockp, ramp, ramtimip, mainbp, ramp1 to ramp4, MemoryClock, IDHASH and "
              "LargestCacheKBytes\n"
              "as NAME<TAB>TEXT, texts exactly as the program holds them (leading and trailing blanks "
              "kept).");
  CLI::Option* file = reportCommand->add_option("FILE", report.file, "the hardware report file");
  CLI::Option* live =
      reportCommand->add_flag("--live", report.live,
                              "run the carried report tool on this machine instead (processors "
                              "kept busy as at start-up)");
  file->excludes(live);
  reportCommand->require_option(1);

  cli::RunOptions run;
  std::string tests = "read,write,copy,latency";
  CLI::App* runCommand =
      app.add_subcommand("run", "Run the benchmark as the window's \" Start Bench!\" does")
          ->footer(
              "Prints the panels, the selected tests' results (each with its sample count and\n"
              "spread) and the score; Ctrl+C stops after the module call in progress and logs\n"
              "nothing.");
  runCommand->add_flag("--log", run.log, "append the result to the CSV log");
  runCommand->add_option("--tests", tests, "the tests to run")->check(kTestList)->capture_default_str();
  runCommand->add_flag("--upload", run.upload, "submit the result to the program's web server");

  cli::CompareOptions compare;
  std::string type, channels, log, clock, score, latency;
  CLI::App* compareCommand =
      app.add_subcommand("compare", "The quick compare for this machine and the last logged run")
          ->footer(
              "Fetches the reference ranges for the memory type and channels from the program's web server\n"
              "(QUORVEX_SERVER) and prints each dial: its range, band ends and where the pointer sits. "
              "Type,\n"
              "channels and clock are read from this machine unless given; score and latency come from the\n"
              "last run in the log unless given.");
  compareCommand->add_option("--type", type, "memory type, as the system summary names it")
      ->type_name("TYPE");
  compareCommand->add_option("--channels", channels, "channels, as the system summary names them")
      ->type_name("N");
  compareCommand->add_option("--clock", clock, "memory clock in MHz")->check(kDecimal);
  compareCommand->add_option("--score", score, "score in GByte/s")->check(kDecimal);
  compareCommand->add_option("--latency", latency, "latency in ns")->check(kDecimal);
  compareCommand->add_option("--log", log, "the log to read the last run from")->type_name("FILE");

  cli::CurveOptions curve;
  CLI::App* curveCommand =
      app.add_subcommand("curve", "The cache-and-memory curve and the all-core figures")
          ->footer(
              "Measures READ and WRITE bandwidth and LATENCY for every block size from 1 KiB to 4 x the\n"
              "largest cache and prints them as a table (MByte/s as the main window scales them).");
  curveCommand
      ->add_option("--csv", curve.csvPath,
                   "write the points (block_kb;read_mbyte_s;write_mbyte_s;latency_ns)")
      ->type_name("FILE");
  curveCommand->add_option("--png", curve.pngPath, "write the chart as the curve window draws it")
      ->type_name("FILE");
  curveCommand->add_option("--svg", curve.svgPath, "write the chart as SVG")->type_name("FILE");
  curveCommand->add_flag("--all-cores", curve.allCores,
                         "also measure READ, WRITE and COPY with one pinned thread per processor, and the "
                         "machine's peak with the widest vector unit");
  curveCommand->add_flag("--loaded", curve.loaded,
                         "also measure memory latency while the other processors stream (no load, each "
                         "added stream, then all paced to 1/4 and 1/2)");
  curveCommand->add_option("--loaded-csv", curve.loadedCsvPath, "write the latency-under-load points")
      ->type_name("FILE");
  curveCommand->add_option("--from", curve.fromPath, "draw a curve saved with --csv instead of measuring one")
      ->type_name("FILE");
  curveCommand
      ->add_option(
          "--pass", curve.passGb,
          "Gb moved per block size (sizes that pass too quickly for the module's ms timer are measured "
          "again with more)")
      ->check(kPowerOfTwo)
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  if (reportCommand->parsed()) return report.live ? cli::ReportLive(report) : cli::ReportFile(report);
  if (runCommand->parsed()) {
    run.tests = Tests(tests);
    return cli::Run(run);
  }
  if (compareCommand->parsed()) {
    if (compareCommand->count("--type")) compare.type = type;
    if (compareCommand->count("--channels")) compare.channels = channels;
    if (compareCommand->count("--log")) compare.log = log;
    compare.clock = Decimal(clock);
    compare.score = Decimal(score);
    compare.latency = Decimal(latency);
    return cli::Compare(compare);
  }
  return cli::Curve(curve);
}
