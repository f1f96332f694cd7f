#include "core/record.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <vector>

#include "core/numeric.h"
#include "platform/file_io.h"
#include "platform/locations.h"
#include "sysinfo/text.h"

namespace core {

namespace {

std::string LocalTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {};
  char buffer[32];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, n);
}

// A line break inside a value would split the record across lines.
std::string OneLine(const std::string& value) {
  std::string s = value;
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string QuotedLine(const std::array<std::string, kResultFieldCount>& values) {
  std::string line;
  for (const std::string& v : values) line += "\"" + v + "\";";
  return line;
}

}  // namespace

bool ReadLastRecord(const std::string& path, ResultRecord* record, std::string* error) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes, error)) return false;
  const std::vector<std::string> lines = sysinfo::SplitLines(bytes);
  if (lines.size() < 2) {
    *error = "no logged run in " + path;
    return false;
  }
  const std::string& line = lines.back();
  // "v1";"v2";...;"v22"; (values are not escaped: a value holding "; would break this split, and
  // the field count check below catches that)
  std::vector<std::string> values;
  size_t at = 0;
  while (at < line.size() && line[at] == '"') {
    const size_t close = line.find("\";", at + 1);
    if (close == std::string::npos) break;
    values.push_back(line.substr(at + 1, close - at - 1));
    at = close + 2;
  }
  if (values.size() != record->fields.size()) {
    *error = "the last line of " + path + " is not a result record";
    return false;
  }
  std::copy(values.begin(), values.end(), record->fields.begin());
  return true;
}

std::string CurrentDateText() { return LocalTimeText("%Y-%m-%d"); }
std::string CurrentTimeText() { return LocalTimeText("%H:%M:%S"); }

ResultRecord BuildResultRecord(const RecordInputs& in, const std::string& country,
                               const std::string& fileName) {
  const sysinfo::PanelTexts& p = in.panels;
  ResultRecord r;
  r[RecordField::Date] = in.date.empty() ? CurrentDateText() : in.date;
  r[RecordField::Time] = in.time.empty() ? CurrentTimeText() : in.time;
  r[RecordField::Os] = p.osp;
  r[RecordField::Cpu] = p.cpup;
  r[RecordField::Memory] = p.ramp;
  r[RecordField::Timings] = sysinfo::StripParentheses(p.ramtimip);
  r[RecordField::Mainboard] = p.mainbp;
  r[RecordField::Ram1] = p.modules[0];
  r[RecordField::Ram2] = p.modules[1];
  r[RecordField::Ram3] = p.modules[2];
  r[RecordField::Ram4] = p.modules[3];
  r[RecordField::Read] = NumericText(in.readCaption);
  r[RecordField::Write] = NumericText(in.writeCaption);
  r[RecordField::Copy] = NumericText(in.copyCaption);
  r[RecordField::Latency] = NumericText(in.latencyCaption);
  r[RecordField::Result] = NumericText(in.scoreCaption);
  r[RecordField::CpuClock] = NumericText(p.cpuclockp);
  r[RecordField::IdHash] = in.idHash;
  r[RecordField::Country] = country;
  r[RecordField::BenImage] = fileName;
  r[RecordField::Version] = in.version;
  r[RecordField::CpuCore] = NumericText(p.cpucores);
  for (std::string& f : r.fields) f = OneLine(f);
  return r;
}

std::string RecordHeaderLine() {
  std::array<std::string, kResultFieldCount> names;
  for (int i = 0; i < kResultFieldCount; ++i) names[i] = kResultFieldNames[i];
  return QuotedLine(names);
}

std::string RecordDataLine(const ResultRecord& record) { return QuotedLine(record.fields); }

bool WriteResultRecord(const std::string& path, const RecordInputs& inputs,
                       const std::function<std::string()>& countryLookup, std::string* error,
                       const RecordFileWriter& writer) {
  auto fail = [error](const std::string& message) {
    if (error) *error = message;
    return false;
  };
  std::string country;
  try {
    country = countryLookup ? countryLookup() : std::string();
  } catch (const std::exception& e) {
    return fail(std::string("The country lookup failed: ") + e.what());
  } catch (...) {
    return fail("The country lookup failed.");
  }
  const ResultRecord record = BuildResultRecord(inputs, country, FileNameOf(path));

  std::vector<std::string> lines;
  if (platform::FileExists(path)) {
    std::string bytes, readError;
    if (!platform::ReadWholeFile(path, &bytes, &readError))
      return fail("Cannot read " + path + ": " + readError);
    lines = sysinfo::SplitLines(bytes);
  }
  if (lines.empty()) lines.push_back(RecordHeaderLine());
  lines.push_back(RecordDataLine(record));

  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  std::string writeError;
  const bool written =
      writer ? writer(path, out, &writeError) : platform::ReplaceFileAtomically(path, out, &writeError);
  if (!written) return fail("Cannot write " + path + ": " + writeError);
  return true;
}

bool LogBesideProgram(const std::string& exeFolder, bool ownWritableFolder) {
  const bool underUsr = exeFolder == "/usr" || exeFolder.rfind("/usr/", 0) == 0;
  return !exeFolder.empty() && ownWritableFolder && !underUsr;
}

std::string LogFilePath() {
  const std::string exeFolder = platform::ExecutableFolder();
  if (LogBesideProgram(exeFolder, platform::IsOwnWritableFolder(exeFolder)))
    return exeFolder + "/" + kLogFileName;
  const std::string data = platform::UserDataFolder(kUserDataFolderName);
  platform::MakeFolders(data);
  return data + "/" + kLogFileName;
}

}  // namespace core
