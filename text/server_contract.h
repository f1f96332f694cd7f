// What the program and its web server agree on: the result record's field names and the paths the
// server answers. Header only, so the server shares it without linking any of the program.
#pragma once

#include <array>
#include <cstddef>

namespace contract {

inline constexpr std::size_t kRecordFieldCount = 22;

// The record's field names in file order: the log's header line and the posted record file's.
inline constexpr std::array<const char*, kRecordFieldCount> kRecordFieldNames = {
    "DATE",      "TIME",     "OS",      "CPU",    "Memory", "Timings (TRCD-TRP-TRAS-CR)",
    "Mainboard", "Ram#1",    "Ram#2",   "Ram#3",  "Ram#4",  "READ",
    "WRITE",     "COPY",     "LATENCY", "RESULT", "CPUCLK", "IDHASH",
    "COUNTRY",   "BENIMAGE", "VERSION", "CPUCORE"};

inline constexpr const char* kUploadPath = "/upload/upload_new.php";
inline constexpr const char* kVersionPath = "/version.php";
inline constexpr const char* kComparePath = "/compare.php";
// A stored result's page is this prefix and its number.
inline constexpr const char* kResultPagePrefix = "/result/";

}  // namespace contract
