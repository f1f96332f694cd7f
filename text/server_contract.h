// What the program and its web server agree on: the result record's field names and the paths the
// server answers. Header only, so the server shares it without linking any of the program.
#pragma once

#include <array>
#include <cstddef>

namespace contract {

// The record's fields in file order, each with the name the log's header line and the posted
// record file give it: the one list the enum and the names are made from.
#define QV_RECORD_FIELDS(X)                \
  X(Date, "DATE")                          \
  X(Time, "TIME")                          \
  X(Os, "OS")                              \
  X(Cpu, "CPU")                            \
  X(Memory, "Memory")                      \
  X(Timings, "Timings (TRCD-TRP-TRAS-CR)") \
  X(Mainboard, "Mainboard")                \
  X(Ram1, "Ram#1")                         \
  X(Ram2, "Ram#2")                         \
  X(Ram3, "Ram#3")                         \
  X(Ram4, "Ram#4")                         \
  X(Read, "READ")                          \
  X(Write, "WRITE")                        \
  X(Copy, "COPY")                          \
  X(Latency, "LATENCY")                    \
  X(Result, "RESULT")                      \
  X(CpuClock, "CPUCLK")                    \
  X(IdHash, "IDHASH")                      \
  X(Country, "COUNTRY")                    \
  X(BenImage, "BENIMAGE")                  \
  X(Version, "VERSION")                    \
  X(CpuCore, "CPUCORE")

#define QV_RECORD_FIELD_ENUM(name, text) name,
#define QV_RECORD_FIELD_NAME(name, text) text,
enum class RecordField : std::size_t { QV_RECORD_FIELDS(QV_RECORD_FIELD_ENUM) };
inline constexpr std::size_t kRecordFieldCount = static_cast<std::size_t>(RecordField::CpuCore) + 1;
inline constexpr std::array<const char*, kRecordFieldCount> kRecordFieldNames = {
    QV_RECORD_FIELDS(QV_RECORD_FIELD_NAME)};
#undef QV_RECORD_FIELD_ENUM
#undef QV_RECORD_FIELD_NAME

// A field's place in the record.
constexpr std::size_t FieldIndex(RecordField field) { return static_cast<std::size_t>(field); }

inline constexpr const char* kUploadPath = "/upload/upload_new.php";
inline constexpr const char* kVersionPath = "/version.php";
inline constexpr const char* kComparePath = "/compare.php";
// A stored result's page is this prefix and its number.
inline constexpr const char* kResultPagePrefix = "/result/";

}  // namespace contract
