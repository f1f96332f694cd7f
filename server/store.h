// The server's store: one SQLite database (WAL) in the data folder and the pictures as files
// beside it, under names the server makes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/png_check.h"
#include "server/record.h"
#include "server/reference.h"

struct sqlite3;

namespace qvserver {

inline constexpr int kSchemaVersion = 2;
// A picture and its record are linked only when they arrive this close together.
inline constexpr int64_t kLinkWindowSeconds = 3600;
// Pictures whose record never came are dropped after this long.
inline constexpr int64_t kOrphanPictureSeconds = 2 * 24 * 3600;

struct StoredRecord {
  int64_t id = 0;
  bool duplicate = false;      // the same IDHASH, DATE and TIME was stored before
  bool pictureLinked = false;  // the result has its picture now
};

struct StoredPicture {
  int64_t id = 0;
  std::string storedName;  // "<32 hex digits>.png"
  std::optional<int64_t> resultId;
};

struct ResultRow {
  int64_t id = 0;
  int64_t receivedAt = 0;  // Unix seconds
  std::string date, time, os, cpu, memory, timings, mainboard, ram[4], country, version;
  long long read = 0, write = 0, copy = 0, cpuClockMHz = 0, cpuCores = 0;
  std::optional<double> latencyNs;
  double score = 0;
  std::string memType, channels;
  int memClockMHz = 0;
  std::optional<std::string> picture;  // stored name
};

struct ResultFilter {
  std::string type;      // empty: any
  std::string channels;  // empty: any
  int64_t beforeId = 0;  // 0: from the newest
  size_t limit = 50;
};

struct MemoryKind {
  std::string type, channels;  // as first stored
  size_t count = 0;
};

class Store {
 public:
  // Opens (creating and migrating as needed) the store in dataDir. Null and error on failure.
  static std::unique_ptr<Store> Open(const std::string& dataDir, std::string* error);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Keeps a checked picture. linkName is the client's file name without ".png", client the
  // sender's link identity (see LinkClient). It is linked at once when its record came first.
  bool AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                  const std::string& client, int64_t now, StoredPicture* out, std::string* error);

  // Keeps a checked record (raw is the file as posted) and links it to its picture.
  bool AddRecord(const UploadedRecord& record, std::string_view raw, const std::string& client, int64_t now,
                 StoredRecord* out, std::string* error);

  MatchedValues Matching(std::string_view type, std::string_view channels);
  std::vector<ResultRow> Recent(const ResultFilter& filter);
  std::vector<MemoryKind> Kinds();
  size_t ResultCount();
  size_t PictureCount();
  int SchemaVersionInFile();

  // The file of a stored picture, when name is one the server made and still holds.
  std::optional<std::string> PicturePath(std::string_view storedName);

  // Deletes pictures no result claimed within orphanSeconds, and stray files in the picture
  // folder. Returns how many files went.
  size_t SweepPictures(int64_t now, int64_t orphanSeconds = kOrphanPictureSeconds);

  const std::string& folder() const { return folder_; }

 private:
  Store() = default;
  bool Exec(const char* sql, std::string* error);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string folder_;
  std::string pictures_;
};

// A stable identity of one client and the folder its files came from, so a picture links only
// to a record from the same sender. Neither the address nor the folder is stored as such.
std::string LinkClient(std::string_view remoteAddress, std::string_view clientFolder);

}  // namespace qvserver
