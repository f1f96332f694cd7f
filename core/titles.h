// The program's own titles, in one table: its main window's and those of its messages.
#pragma once

namespace core {

struct Titles {
  const char* program = "Quorvex\xC2\xB2";                  // the main window, as the upload shows it too
  const char* newVersionMark = " [New version available]";  // appended when the server knows another version
  const char* run = "Quorvex\xC2\xB2 - Benchmark";
  const char* gathering = "Quorvex\xC2\xB2 - System information";
  const char* compare = "Quorvex\xC2\xB2 - Compare";
  const char* upload = "Quorvex\xC2\xB2 - Upload";
  const char* curve = "Quorvex\xC2\xB2 - Curve";
  const char* confirmation = "Information";  // the upload's OK/Cancel question
};
inline constexpr Titles kTitles;

}  // namespace core
