// The commands of quorvex-cli, each in its own file; main.cpp reads the command line (CLI11) into
// their options and calls one. Each returns the process exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace cli {

struct ReportOptions {
  std::string file;   // report FILE
  bool live = false;  // report --live
};
int ReportFile(const ReportOptions& options);  // report.cpp
int ReportLive(const ReportOptions& options);  // report_live.cpp

struct RunOptions {
  bool log = false;
  bool upload = false;
  bool json = false;  // one JSON object on standard output instead of the lines
  std::set<std::string> tests = {"read", "write", "copy", "latency"};
};
int Run(const RunOptions& options);  // run.cpp
// Called by Run when --upload is given, after the tests have run and been shown (upload.cpp).
int UploadAfterRun(bool json);

struct UploadOptions {
  std::string log;  // the log to take the last run from; empty: the program's log
};
int UploadLogged(const UploadOptions& options);  // upload.cpp

struct CompareOptions {
  std::optional<std::string> type, channels, log;
  std::optional<double> clock, score, latency;
  bool json = false;  // one JSON object on standard output instead of the dials' lines
};
int Compare(const CompareOptions& options);  // compare.cpp

struct CurveOptions {
  std::string csvPath, pngPath, svgPath, fromPath, loadedCsvPath;
  bool allCores = false;
  bool loaded = false;  // latency under load
  bool json = false;    // one JSON object on standard output instead of the tables
  uint32_t passGb = 1;
};
int Curve(const CurveOptions& options);  // curve.cpp

}  // namespace cli
