#include "core/record.h"

#include <ctime>
#include <exception>

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

std::string CurrentDateText() { return LocalTimeText("%Y-%m-%d"); }
std::string CurrentTimeText() { return LocalTimeText("%H:%M:%S"); }

ResultRecord BuildResultRecord(const RecordInputs& in, const std::string& country,
                               const std::string& fileName) {
  const sysinfo::PanelTexts& p = in.panels;
  ResultRecord r;
  r.fields = {in.date.empty() ? CurrentDateText() : in.date,
              in.time.empty() ? CurrentTimeText() : in.time,
              p.osp,
              p.cpup,
              p.ramp,
              sysinfo::StripParentheses(p.ramtimip),
              p.mainbp,
              p.modules[0],
              p.modules[1],
              p.modules[2],
              p.modules[3],
              NumericText(in.readCaption),
              NumericText(in.writeCaption),
              NumericText(in.copyCaption),
              NumericText(in.latencyCaption),
              NumericText(in.scoreCaption),
              NumericText(p.cpuclockp),
              in.idHash,
              country,
              fileName,
              in.version,
              NumericText(p.cpucores)};
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

std::string LogFilePath() {
  const std::string exeFolder = platform::ExecutableFolder();
  if (!exeFolder.empty() && platform::IsWritableFolder(exeFolder)) return exeFolder + "/" + kLogFileName;
  const std::string data = platform::UserDataFolder(kUserDataFolderName);
  platform::MakeFolders(data);
  return data + "/" + kLogFileName;
}

}  // namespace core
