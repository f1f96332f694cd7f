// The server's store: one SQLite database (WAL) in the data folder, or a PostgreSQL database that
// several servers share, and the pictures as files in the data folder, under names the server makes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/aggregates.h"
#include "server/png_check.h"
#include "server/record.h"
#include "server/reference.h"

namespace qvserver {

inline constexpr int kSchemaVersion = 3;
inline constexpr int kPostgresSchemaVersion = 1;
// A picture and its record are linked only when they arrive this close together: the program
// sends the record seconds after its picture.
inline constexpr int64_t kLinkWindowSeconds = 600;
// Pictures whose record never came are dropped after this long.
inline constexpr int64_t kOrphanPictureSeconds = kLinkWindowSeconds;

// Who sent an upload, as the store keeps it.
struct Sender {
  std::string client;   // LinkClient of address and folder
  std::string network;  // KeyedDigest of the sending network (see NetworkKey)
};

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
  std::string date, time, os, cpu, memory, timings, mainboard, ram[4], country, version, idHash, benImage;
  long long read = 0, write = 0, copy = 0, cpuClockMHz = 0, cpuCores = 0;
  std::optional<double> latencyNs;
  double score = 0;
  std::string memType, channels;
  int memClockMHz = 0;
  std::optional<std::string> picture;  // stored name
  std::string record;                  // the record file as posted (only from Result)
  std::string network;                 // the sending network's digest; never shown
  std::string machine;                 // a short keyed digest of the IDHASH, for pages
};

// A text search looks through this many of the newest results.
inline constexpr int64_t kSearchedResults = 50000;

// A ranking shows at most this many machines of one sending network.
inline constexpr size_t kRankedPerNetwork = 3;

// How a list of results is ordered. Every order but Newest ranks the machines of one kind, each
// with its latest result.
enum class SortKey { Newest, Score, Read, Write, Copy, Latency };

struct ResultFilter {
  std::string type;      // empty: any
  std::string channels;  // empty: any
  std::string text;      // found in the CPU, mainboard or module texts; empty: any
  SortKey sort = SortKey::Newest;
  int64_t beforeId = 0;  // Newest: older than this result; 0: from the newest
  int64_t afterId = 0;   // Newest: newer than this result (the page before), nearest first
  size_t offset = 0;     // ranked lists: rows to skip
  size_t limit = 50;
  // A list taking longer than this is cut short (a search with a common word over a big store).
  std::chrono::milliseconds budget{2000};
};

// Where the server keeps its results and pictures: SQLite in the data folder (Open), or PostgreSQL
// (OpenPostgres) with the pictures in a data folder that every server on the database reaches.
class Store {
 public:
  // Opens (creating and migrating as needed) the SQLite store in dataDir. Null and error on failure.
  static std::unique_ptr<Store> Open(const std::string& dataDir, std::string* error);
  // Opens (creating and migrating as needed) the store in the PostgreSQL database that connection
  // (a libpq connection string or postgresql:// address) names; pictures go to dataDir/pictures.
  static std::unique_ptr<Store> OpenPostgres(const std::string& connection, const std::string& dataDir,
                                             std::string* error);
  // Whether a --store value names a PostgreSQL database rather than SQLite.
  static bool IsPostgres(std::string_view where);
  virtual ~Store() = default;

  // Keeps a checked picture. linkName is the client's file name without ".png", sender who sent
  // it (see Sender). It is linked at once when its record came first.
  virtual bool AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                          const Sender& sender, int64_t now, StoredPicture* out, std::string* error) = 0;

  // Keeps a checked record (raw is the file as posted) and links it to its picture. The record
  // becomes the vote of its machine from the sender's network; a vote cast from another network
  // stays as it is.
  virtual bool AddRecord(const UploadedRecord& record, std::string_view raw, const Sender& sender,
                         int64_t now, StoredRecord* out, std::string* error) = 0;

  // The stored results of a kind as the reference ranges count them: one voice per network.
  virtual MatchedValues Matching(std::string_view type, std::string_view channels) = 0;
  virtual CompareRanges Ranges(std::string_view type, std::string_view channels) = 0;
  virtual std::optional<Rank> RankOf(const ResultRow& row) = 0;
  // Each machine's latest result of a kind as (memory clock, score) pairs, at most limit of them.
  virtual std::vector<std::pair<double, double>> ClockAndScore(std::string_view type,
                                                               std::string_view channels, size_t limit) = 0;
  virtual ScoreHistogram Histogram(std::string_view type, std::string_view channels, size_t bins) = 0;
  // The list a filter asks for; cut (when given) says whether its budget ran out before its end.
  virtual std::vector<ResultRow> Recent(const ResultFilter& filter, bool* cut = nullptr) = 0;
  virtual std::optional<ResultRow> Result(int64_t id) = 0;
  // The recognised kinds (DDR2 to DDR5 with a channel count), most results first.
  virtual std::vector<MemoryKind> Kinds() = 0;
  virtual std::optional<MemoryKind> KindOf(std::string_view type, std::string_view channels) = 0;
  virtual size_t ResultCount() = 0;
  virtual size_t PictureCount() = 0;
  // Pictures received since then whose record has not come (yet).
  virtual size_t WaitingPictures(int64_t since) = 0;
  // Of them, those sent from one network, and the bytes of all of them.
  virtual size_t WaitingPictures(int64_t since, const std::string& network) = 0;
  virtual size_t WaitingPictureBytes(int64_t since) = 0;
  // A random key made with the store and kept in it, so every server on the store digests alike.
  virtual const std::string& Secret() const = 0;
  virtual int SchemaVersionInFile() = 0;
  // Takes one of a network's upload tokens (burst at once, one more each refill) where every
  // server on the store counts them. Nothing when the store keeps no such count: the process does.
  virtual std::optional<bool> TakeUpload(const std::string& network, unsigned burst, int64_t refillSeconds) {
    (void)network, (void)burst, (void)refillSeconds;
    return std::nullopt;
  }
  // What the start-up line names as the store.
  virtual std::string Where() const { return folder(); }

  // The file of a stored picture, when name is one the server made and still holds.
  virtual std::optional<std::string> PicturePath(std::string_view storedName) = 0;

  // Deletes pictures no result claimed within orphanSeconds, and (with strays) files in the
  // picture folder that no row names. Returns how many files went.
  virtual size_t SweepPictures(int64_t now, int64_t orphanSeconds = kOrphanPictureSeconds,
                               bool strays = true) = 0;

  virtual const std::string& folder() const = 0;
};

// A stable identity of one client and the folder its files came from, so a picture links only
// to a record from the same sender. Neither the address nor the folder is stored as such.
std::string LinkClient(std::string_view remoteAddress, std::string_view clientFolder);

// HMAC-SHA-256 of text under key, as its first hexDigits hexadecimal digits.
std::string KeyedDigest(std::string_view key, std::string_view text, size_t hexDigits);

}  // namespace qvserver
