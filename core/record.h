// The 22-field result record, its file format and the CSV log.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "sysinfo/panels.h"
#include "text/server_contract.h"

namespace core {

inline constexpr int kResultFieldCount = static_cast<int>(contract::kRecordFieldCount);
inline constexpr const char* kLogFileName = "Quorvex2_LOG.csv";
// The folder under the user's data home that holds the log when the program's own folder is read-only.
inline constexpr const char* kUserDataFolderName = "quorvex";

// Header names in file order.
inline constexpr const auto& kResultFieldNames = contract::kRecordFieldNames;

using contract::RecordField;

struct ResultRecord {
  std::array<std::string, kResultFieldCount> fields;  // in the order of kResultFieldNames

  std::string& operator[](RecordField field) { return fields[contract::FieldIndex(field)]; }
  const std::string& operator[](RecordField field) const { return fields[contract::FieldIndex(field)]; }
};

// What the window shows when the record is built.
struct RecordInputs {
  sysinfo::PanelTexts panels;
  std::string readCaption, writeCaption, copyCaption, latencyCaption;  // bread bwrite bcopy blaten
  std::string scoreCaption;                                            // acLabel3
  std::string idHash;                                                  // MachineIdHash
  std::string version;                                                 // FileVersionText
  std::string date;                                                    // "yyyy-mm-dd"; empty: today
  std::string time;                                                    // "hh:mm:ss"; empty: now
};

// Builds the record; country is asked through the lookup by the caller of this.
ResultRecord BuildResultRecord(const RecordInputs& inputs, const std::string& country,
                               const std::string& fileName);

// Lines without their CR LF: "DATE";"TIME";...;"CPUCORE"; and "v1";"v2";...;
std::string RecordHeaderLine();
std::string RecordDataLine(const ResultRecord& record);

// How the finished file reaches the disk; the default replaces it atomically. A seam for tests.
using RecordFileWriter =
    std::function<bool(const std::string& path, const std::string& bytes, std::string* error)>;

// Appends the record to the file at path (header first when the file is absent or empty),
// every line ending in CR LF. The file is replaced atomically: on any failure (unreadable
// file, a country lookup that throws, a failed write) it keeps its old content, the function
// returns false and error says why.
bool WriteResultRecord(const std::string& path, const RecordInputs& inputs,
                       const std::function<std::string()>& countryLookup, std::string* error,
                       const RecordFileWriter& writer = {});

// The last data line of the log (or any record file) at path, read back into a record; false
// with error when the file cannot be read or its last line is no record.
bool ReadLastRecord(const std::string& path, ResultRecord* record, std::string* error);

// Whether the log lives beside the executable: only in a folder the user owns and may write to,
// and never under /usr. An installed program (run as root, too) keeps it in the user's data folder.
bool LogBesideProgram(const std::string& exeFolder, bool ownWritableFolder);

// The log: beside the executable where LogBesideProgram allows it, else in the user data folder
// ($XDG_DATA_HOME/quorvex, created).
std::string LogFilePath();

// Current local date "yyyy-mm-dd" and time "hh:mm:ss".
std::string CurrentDateText();
std::string CurrentTimeText();

}  // namespace core
