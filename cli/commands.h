// The subcommands of quorvex-cli. Each lives in its own file; main.cpp dispatches to them.
// args holds the words after the subcommand name. Each returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace cli {

int ReportFile(const std::vector<std::string>& args);  // report FILE          (report.cpp)
int ReportLive(const std::vector<std::string>& args);  // report --live        (report_live.cpp)
int Run(const std::vector<std::string>& args);         // run [...]            (run.cpp)
int Compare(const std::vector<std::string>& args);     // compare [...]        (compare.cpp)
int Curve(const std::vector<std::string>& args);       // curve [...]          (curve.cpp)
// Called by Run when --upload is given, after the tests have run and been shown.
int UploadAfterRun(const std::vector<std::string>& args);  // (upload.cpp)

}  // namespace cli
