// quorvex-cli: the command line read with CLI11 into each command's options. A usage error
// (unknown option, missing or bad value, no command) ends with its message and exit code 2;
// --help prints the help CLI11 makes from the options below.
#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "core/numeric.h"
#include "platform/file_version.h"

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
      bool any = false;
      while (std::getline(words, word, ',')) {
        if (!word.empty() && word != "read" && word != "write" && word != "copy" && word != "latency")
          return "unknown test \"" + word + "\"";
        any = any || !word.empty();
      }
      return any ? std::string() : std::string("names no test (read, write, copy, latency)");
    },
    "read,write,copy,latency");

// Memory types as the system summary names them; a mistyped one would only fetch empty ranges.
const CLI::Validator kMemoryType(
    [](std::string& type) {
      static const char* const kKnown[] = {"DDR",    "DDR2",   "DDR3",    "DDR4",   "DDR5",   "LPDDR2",
                                           "LPDDR3", "LPDDR4", "LPDDR4X", "LPDDR5", "LPDDR5X"};
      for (const char* known : kKnown)
        if (type == known) return std::string();
      return std::string("is no memory type (DDR2 .. DDR5, LPDDR2 .. LPDDR5X)");
    },
    "TYPE");

const CLI::Validator kChannels(
    [](std::string& channels) {
      for (const char* known : {"Single", "Dual", "Triple", "Quad"})
        if (channels == known) return std::string();
      const auto n = core::ParseInteger(channels);
      return n && *n >= 1 && *n <= 16
                 ? std::string()
                 : std::string("takes Single, Dual, Triple, Quad or a number of channels");
    },
    "CHANNELS");

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

// Each Add... registers one command's words; once they are read, *command holds what to run.
using Command = std::function<int()>;

// A command with its one-line summary (the list of commands) and its details (its own help).
CLI::App* AddCommand(CLI::App& app, const char* name, const char* summary, const char* details) {
  return app.add_subcommand(name, summary)->footer(details);
}

void AddReport(CLI::App& app, Command* command) {
  auto options = std::make_shared<cli::ReportOptions>();
  CLI::App* sub = AddCommand(
      app, "report", "Convert a hardware report and print what the program makes of it",
      "Prints every system specification line (KEY \"VALUE\"), an empty line, then the summary's\n"
      "texts (OS, processor, cores, clock, memory, timings, mainboard, the four modules), the memory\n"
      "clock, the machine's identity hash and the largest cache as NAME<TAB>TEXT, texts exactly as\n"
      "the program holds them (leading and trailing blanks kept). A file that is not a hardware\n"
      "report is refused.");
  CLI::Option* file = sub->add_option("FILE", options->file, "the hardware report file");
  CLI::Option* live = sub->add_flag(
      "--live", options->live,
      "run the carried report tool on this machine instead (processors kept busy as at start-up)");
  file->excludes(live);
  sub->require_option(1);
  sub->callback([options, command] {
    *command = [options] { return options->live ? cli::ReportLive(*options) : cli::ReportFile(*options); };
  });
}

void AddRun(CLI::App& app, Command* command) {
  auto options = std::make_shared<cli::RunOptions>();
  auto tests = std::make_shared<std::string>("read,write,copy,latency");
  CLI::App* sub =
      AddCommand(app, "run", "Run the benchmark as the window's \" Start Bench!\" does",
                 "Prints the system summary, the selected tests' results (each with its sample count and\n"
                 "spread, and a warning when the spread says the machine was busy) and the score.\n"
                 "Exit code 1 when a test could not be measured or the upload failed; Ctrl+C stops after\n"
                 "the module call in progress and logs nothing (exit code 130).");
  sub->add_flag("--log", options->log,
                "append the result to the CSV log (`quorvex-cli upload` sends it later)");
  sub->add_option("--tests", *tests, "the tests to run, comma-separated")
      ->check(kTestList)
      ->capture_default_str();
  sub->add_flag("--upload", options->upload,
                "submit the result to the program's web server (checked before the run: the memory facts "
                "must be known)");
  sub->add_flag("--json", options->json, "print one JSON object on standard output instead of the lines");
  sub->callback([options, tests, command] {
    options->tests = Tests(*tests);
    *command = [options] { return cli::Run(*options); };
  });
}

void AddCompare(CLI::App& app, Command* command) {
  struct Words {
    std::string type, channels, log, clock, score, latency;
    bool json = false;
  };
  auto words = std::make_shared<Words>();
  CLI::App* sub = AddCommand(
      app, "compare", "The quick compare for this machine and the last logged run",
      "Fetches the reference ranges for the memory type and channels from the program's web server\n"
      "(QUORVEX_SERVER) and prints each dial: its range, band ends and where the pointer sits. "
      "Type,\n"
      "channels and clock are read from this machine unless given; score and latency come from the\n"
      "last run in the log unless given.");
  sub->add_option("--type", words->type, "memory type, as the system summary names it (DDR4)")
      ->check(kMemoryType);
  sub->add_option("--channels", words->channels, "channels, as the system summary names them (Dual)")
      ->check(kChannels);
  sub->add_option("--clock", words->clock, "memory clock in MHz")->check(kDecimal);
  sub->add_option("--score", words->score, "score in GByte/s")->check(kDecimal);
  sub->add_option("--latency", words->latency, "latency in ns")->check(kDecimal);
  sub->add_option("--log", words->log, "the log to read the last run from")->type_name("FILE");
  sub->add_flag("--json", words->json, "print one JSON object on standard output instead of the lines");
  sub->callback([sub, words, command] {
    cli::CompareOptions options;
    if (sub->count("--type")) options.type = words->type;
    if (sub->count("--channels")) options.channels = words->channels;
    if (sub->count("--log")) options.log = words->log;
    options.clock = Decimal(words->clock);
    options.score = Decimal(words->score);
    options.latency = Decimal(words->latency);
    options.json = words->json;
    *command = [options] { return cli::Compare(options); };
  });
}

void AddUpload(CLI::App& app, Command* command) {
  auto options = std::make_shared<cli::UploadOptions>();
  CLI::App* sub =
      AddCommand(app, "upload", "Submit the last logged run to the program's web server",
                 "Takes the last run of the CSV log (`quorvex-cli run --log`), made on this machine,\n"
                 "and submits it as the window's \"Upload Result\" does, without asking.");
  sub->add_option("--log", options->log, "the log to take the last run from")->type_name("FILE");
  sub->callback([options, command] { *command = [options] { return cli::UploadLogged(*options); }; });
}

void AddCurve(CLI::App& app, Command* command) {
  auto options = std::make_shared<cli::CurveOptions>();
  CLI::App* sub =
      AddCommand(app, "curve", "The cache-and-memory curve and the all-core figures",
                 "Measures READ and WRITE bandwidth and LATENCY for every block size from 1 KiB to 4 x the\n"
                 "largest cache and prints them as a table (MByte/s as the main window scales them).");
  sub->add_option("--csv", options->csvPath,
                  "write the points (block_kb;read_mbyte_s;write_mbyte_s;latency_ns)")
      ->type_name("FILE");
  sub->add_option("--png", options->pngPath, "write the chart as the curve window draws it")
      ->type_name("FILE");
  sub->add_option("--svg", options->svgPath, "write the chart as SVG")->type_name("FILE");
  sub->add_flag("--all-cores", options->allCores,
                "also measure READ, WRITE and COPY with one pinned thread per processor, and the machine's "
                "peak with the widest vector unit");
  sub->add_flag("--loaded", options->loaded,
                "also measure memory latency while the other processors stream (no load, each added "
                "stream, then all paced to 1/4 and 1/2)");
  sub->add_option("--loaded-csv", options->loadedCsvPath, "write the latency-under-load points")
      ->type_name("FILE");
  sub->add_option("--from", options->fromPath, "draw a curve saved with --csv instead of measuring one")
      ->type_name("FILE");
  sub->add_option(
         "--pass", options->passGb,
         "Gb moved per block size (sizes that pass too quickly for the module's ms timer are measured "
         "again with more)")
      ->check(kPowerOfTwo)
      ->capture_default_str();
  sub->add_flag("--json", options->json, "print one JSON object on standard output instead of the tables");
  sub->callback([options, command] { *command = [options] { return cli::Curve(*options); }; });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quorvex, the memory benchmark, in a terminal.", "quorvex-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] { return "quorvex-cli " + platform::FileVersionText(""); });
  Command command;
  AddReport(app, &command);
  AddRun(app, &command);
  AddUpload(app, &command);
  AddCompare(app, &command);
  AddCurve(app, &command);
  // "quorvex-cli help" asks for the help, as it always has.
  static char helpFlag[] = "--help";
  if (argc == 2 && std::string(argv[1]) == "help") argv[1] = helpFlag;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return command();
}
