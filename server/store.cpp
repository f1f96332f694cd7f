#include "server/store.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <unordered_map>

#include "platform/file_io.h"
#include "server/store_files.h"

namespace qvserver {

namespace {

// Each step brings the schema from its index to the next version; never edit a shipped step,
// append a new one.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE results (
  id            INTEGER PRIMARY KEY,
  received_at   INTEGER NOT NULL,
  link_client   TEXT NOT NULL,
  date          TEXT NOT NULL,
  time          TEXT NOT NULL,
  os            TEXT NOT NULL,
  cpu           TEXT NOT NULL,
  memory        TEXT NOT NULL,
  timings       TEXT NOT NULL,
  mainboard     TEXT NOT NULL,
  ram1          TEXT NOT NULL,
  ram2          TEXT NOT NULL,
  ram3          TEXT NOT NULL,
  ram4          TEXT NOT NULL,
  read_mbs      INTEGER NOT NULL,
  write_mbs     INTEGER NOT NULL,
  copy_mbs      INTEGER NOT NULL,
  latency_ns    REAL,
  score         REAL NOT NULL,
  cpuclk_mhz    INTEGER NOT NULL,
  idhash        TEXT NOT NULL,
  country       TEXT NOT NULL,
  benimage      TEXT NOT NULL,
  version       TEXT NOT NULL,
  cpu_cores     INTEGER NOT NULL,
  mem_type      TEXT NOT NULL,
  mem_type_key  TEXT NOT NULL,
  channels      TEXT NOT NULL,
  channels_key  TEXT NOT NULL,
  mem_clock_mhz INTEGER,
  record_file   BLOB NOT NULL,
  UNIQUE (idhash, date, time)
);
CREATE INDEX results_by_kind ON results (mem_type_key, channels_key);
CREATE INDEX results_by_link ON results (benimage, link_client);
CREATE TABLE pictures (
  id          INTEGER PRIMARY KEY,
  stored_name TEXT NOT NULL UNIQUE,
  link_name   TEXT NOT NULL,
  link_client TEXT NOT NULL,
  received_at INTEGER NOT NULL,
  bytes       INTEGER NOT NULL,
  width       INTEGER NOT NULL,
  height      INTEGER NOT NULL,
  result_id   INTEGER UNIQUE REFERENCES results (id)
);
CREATE INDEX pictures_by_link ON pictures (link_name, link_client);
)sql",
    // One vote per machine and kind: the latest result of each IDHASH is what the reference
    // ranges and percentile ranks count, so one machine uploading again and again weighs once.
    R"sql(
CREATE TABLE votes (
  mem_type_key  TEXT NOT NULL,
  channels_key  TEXT NOT NULL,
  idhash        TEXT NOT NULL,
  result_id     INTEGER NOT NULL REFERENCES results (id),
  score         REAL NOT NULL,
  mem_clock_mhz INTEGER,
  latency_ns    REAL,
  read_mbs      INTEGER NOT NULL,
  write_mbs     INTEGER NOT NULL,
  copy_mbs      INTEGER NOT NULL,
  PRIMARY KEY (mem_type_key, channels_key, idhash)
) WITHOUT ROWID;
INSERT OR REPLACE INTO votes
  SELECT mem_type_key, channels_key, idhash, id, score, mem_clock_mhz, latency_ns, read_mbs, write_mbs, copy_mbs
  FROM results WHERE mem_type_key <> '' AND channels_key <> '' ORDER BY id;
-- The rankings read one kind in one order without sorting, and skip rows within the index.
CREATE INDEX votes_by_score ON votes (mem_type_key, channels_key, score, result_id);
CREATE INDEX votes_by_read ON votes (mem_type_key, channels_key, read_mbs, result_id);
CREATE INDEX votes_by_write ON votes (mem_type_key, channels_key, write_mbs, result_id);
CREATE INDEX votes_by_copy ON votes (mem_type_key, channels_key, copy_mbs, result_id);
CREATE INDEX votes_by_latency ON votes (mem_type_key, channels_key, latency_ns, result_id);
-- Pictures still waiting for their record, counted on every picture upload.
CREATE INDEX pictures_waiting ON pictures (received_at) WHERE result_id IS NULL;
)sql",
    // A vote belongs to the network that cast it: votes are kept per machine and sending network,
    // so an upload naming a machine from elsewhere is a vote of its own. Votes stored before
    // networks were known each stand for a network of their own.
    R"sql(
ALTER TABLE results ADD COLUMN network TEXT NOT NULL DEFAULT '';
ALTER TABLE pictures ADD COLUMN network TEXT NOT NULL DEFAULT '';
CREATE TABLE votes_by_network (
  mem_type_key  TEXT NOT NULL,
  channels_key  TEXT NOT NULL,
  idhash        TEXT NOT NULL,
  network       TEXT NOT NULL,
  result_id     INTEGER NOT NULL REFERENCES results (id),
  score         REAL NOT NULL,
  mem_clock_mhz INTEGER,
  latency_ns    REAL,
  read_mbs      INTEGER NOT NULL,
  write_mbs     INTEGER NOT NULL,
  copy_mbs      INTEGER NOT NULL,
  PRIMARY KEY (mem_type_key, channels_key, idhash, network)
) WITHOUT ROWID;
INSERT INTO votes_by_network
  SELECT mem_type_key, channels_key, idhash, 'machine ' || idhash, result_id, score, mem_clock_mhz, latency_ns,
         read_mbs, write_mbs, copy_mbs FROM votes;
UPDATE results SET network = 'machine ' || idhash;
DROP TABLE votes;
ALTER TABLE votes_by_network RENAME TO votes;
CREATE INDEX votes_by_score ON votes (mem_type_key, channels_key, score, result_id);
CREATE INDEX votes_by_read ON votes (mem_type_key, channels_key, read_mbs, result_id);
CREATE INDEX votes_by_write ON votes (mem_type_key, channels_key, write_mbs, result_id);
CREATE INDEX votes_by_copy ON votes (mem_type_key, channels_key, copy_mbs, result_id);
CREATE INDEX votes_by_latency ON votes (mem_type_key, channels_key, latency_ns, result_id);
-- Waiting pictures are counted per sending network on every picture upload.
CREATE INDEX pictures_waiting_by_network ON pictures (network, received_at) WHERE result_id IS NULL;
-- The key of the digests that stand in for networks and machines.
CREATE TABLE secrets (name TEXT PRIMARY KEY, value BLOB NOT NULL);
-- Searches read this index of three-character pieces, never the texts row by row.
CREATE VIRTUAL TABLE results_text USING fts5 (cpu, mainboard, ram1, ram2, ram3, ram4, content = 'results',
                                              content_rowid = 'id', tokenize = 'trigram');
INSERT INTO results_text (results_text) VALUES ('rebuild');
CREATE TRIGGER results_text_add AFTER INSERT ON results BEGIN
  INSERT INTO results_text (rowid, cpu, mainboard, ram1, ram2, ram3, ram4)
    VALUES (new.id, new.cpu, new.mainboard, new.ram1, new.ram2, new.ram3, new.ram4);
END;
)sql",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return ok_; }
  Statement& Bind(int i, std::string_view text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int i, std::string_view bytes) {
    sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Bind(int i, double v) {
    sqlite3_bind_double(stmt_, i, v);
    return *this;
  }
  Statement& BindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
  }
  // Ready to run again with new bindings.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  bool IsNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  double Real(int col) { return sqlite3_column_double(stmt_, col); }
  std::string Text(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool ok_ = false;
};

// Rolls back unless committed, so an early return never leaves a transaction open.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    active_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (active_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  bool active() const { return active_; }
  // On failure why (when given) says what the commit met, not what the rollback after it did.
  bool Commit(std::string* why = nullptr) {
    if (!active_) return false;
    active_ = false;
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    if (why) *why = sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }

 private:
  sqlite3* db_;
  bool active_ = false;
};

// Interrupts the statements of a read connection once budget has passed, for the span of one call.
class Deadline {
 public:
  Deadline(sqlite3* db, std::chrono::milliseconds budget)
      : db_(db), end_(std::chrono::steady_clock::now() + budget) {
    sqlite3_progress_handler(db_, 100, &Deadline::Check, this);
  }
  ~Deadline() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

 private:
  static int Check(void* self) {
    return std::chrono::steady_clock::now() > static_cast<Deadline*>(self)->end_ ? 1 : 0;
  }
  sqlite3* db_;
  std::chrono::steady_clock::time_point end_;
};

}  // namespace

// A full disk is named as such, with the folder it holds, so the operator knows where to look.
std::string Explain(const std::string& what, const std::string& message, const std::string& folder) {
  if (message.find("disk is full") != std::string::npos || message.find("No space left") != std::string::npos)
    return what + ": the disk holding " + folder + " is full (" + message + ")";
  return what + ": " + message;
}

std::string RandomPictureName() {
  std::random_device rd;
  char name[40];
  std::snprintf(name, sizeof name, "%08x%08x%08x%08x.png", rd(), rd(), rd(), rd());
  return name;
}

bool IsStoredPictureName(std::string_view name) {
  if (name.size() != 36 || name.substr(32) != ".png") return false;
  for (char c : name.substr(0, 32))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

const char* SortColumn(SortKey sort) {
  switch (sort) {
    case SortKey::Score:
      return "score";
    case SortKey::Read:
      return "read_mbs";
    case SortKey::Write:
      return "write_mbs";
    case SortKey::Copy:
      return "copy_mbs";
    case SortKey::Latency:
      return "latency_ns";
    default:
      return "";
  }
}

size_t SweepStrayPictures(const std::string& folder, const std::function<bool(const std::string&)>& known) {
  size_t swept = 0;
  std::error_code ec;
  const auto cutoff = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    std::error_code timeError;
    const auto written = entry.last_write_time(timeError);
    if (timeError || written > cutoff) continue;
    if (!(IsStoredPictureName(name) && known(name)) && entry.is_regular_file(ec))
      swept += platform::DeleteFile(entry.path().string());
  }
  return swept;
}

// The store in one SQLite database (WAL). Writes go through one connection under a lock;
// reads each take a connection of their own, so they run beside the writer and each other.
class SqliteStore final : public Store {
 public:
  ~SqliteStore() override;

  bool AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                  const Sender& sender, int64_t now, StoredPicture* out, std::string* error) override;
  bool AddRecord(const UploadedRecord& record, std::string_view raw, const Sender& sender, int64_t now,
                 StoredRecord* out, std::string* error) override;
  MatchedValues Matching(std::string_view type, std::string_view channels) override;
  CompareRanges Ranges(std::string_view type, std::string_view channels) override;
  std::optional<Rank> RankOf(const ResultRow& row) override;
  std::vector<std::pair<double, double>> ClockAndScore(std::string_view type, std::string_view channels,
                                                       size_t limit) override;
  ScoreHistogram Histogram(std::string_view type, std::string_view channels, size_t bins) override;
  std::vector<ResultRow> Recent(const ResultFilter& filter, bool* cut) override;
  std::optional<ResultRow> Result(int64_t id) override;
  std::vector<MemoryKind> Kinds() override;
  std::optional<MemoryKind> KindOf(std::string_view type, std::string_view channels) override;
  size_t ResultCount() override;
  size_t PictureCount() override;
  size_t WaitingPictures(int64_t since) override;
  size_t WaitingPictures(int64_t since, const std::string& network) override;
  size_t WaitingPictureBytes(int64_t since) override;
  const std::string& Secret() const override { return secret_; }
  int SchemaVersionInFile() override;
  std::optional<std::string> PicturePath(std::string_view storedName) override;
  size_t SweepPictures(int64_t now, int64_t orphanSeconds, bool strays) override;
  const std::string& folder() const override { return folder_; }

 private:
  friend class Store;
  // A read connection for the span of one call.
  class Reader {
   public:
    explicit Reader(SqliteStore& store);
    ~Reader();
    sqlite3* db() const { return db_; }

   private:
    SqliteStore& store_;
    sqlite3* db_ = nullptr;
  };

  bool Exec(const char* sql, std::string* error);
  bool LoadAggregates(std::string* error);
  bool LoadSecret(std::string* error);
  void Fill(ResultRow& row) const { row.machine = KeyedDigest(secret_, "machine " + row.idHash, 12); }

  std::mutex mutex_;  // the writer
  sqlite3* db_ = nullptr;
  std::mutex readersMutex_;
  std::vector<sqlite3*> readers_;  // idle read connections
  Aggregates aggregates_;
  std::string folder_;
  std::string path_;
  std::string pictures_;
  std::string secret_;
};

SqliteStore::Reader::Reader(SqliteStore& store) : store_(store) {
  {
    std::lock_guard lock(store_.readersMutex_);
    if (!store_.readers_.empty()) {
      db_ = store_.readers_.back();
      store_.readers_.pop_back();
      return;
    }
  }
  if (sqlite3_open_v2(store_.path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_busy_timeout(db_, 5000);
}

SqliteStore::Reader::~Reader() {
  if (!db_) return;
  std::lock_guard lock(store_.readersMutex_);
  store_.readers_.push_back(db_);
}

std::string KeyedDigest(std::string_view key, std::string_view text, size_t hexDigits) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac, &length);
  std::string hex;
  for (unsigned int i = 0; i < length && hex.size() < hexDigits; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", mac[i]);
    hex += two;
  }
  hex.resize(std::min(hex.size(), hexDigits));
  return hex;
}

std::string LinkClient(std::string_view remoteAddress, std::string_view clientFolder) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  auto mix = [&](std::string_view s) {
    for (unsigned char c : s) {
      h ^= c;
      h *= 1099511628211ull;
    }
  };
  mix(remoteAddress);
  mix(std::string_view("\n", 1));
  mix(clientFolder);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return hex;
}

std::unique_ptr<Store> Store::Open(const std::string& dataDir, std::string* error) {
  std::unique_ptr<SqliteStore> store(new SqliteStore());
  store->folder_ = dataDir;
  store->path_ = dataDir + "/results.sqlite";
  store->pictures_ = dataDir + "/pictures";
  if (!platform::MakeFolders(store->pictures_)) {
    if (error) *error = "cannot create the data folder " + store->pictures_;
    return nullptr;
  }
  const std::string path = dataDir + "/results.sqlite";
  if (sqlite3_open_v2(path.c_str(), &store->db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    if (error)
      *error = store->db_ ? Explain("cannot open " + path, sqlite3_errmsg(store->db_), dataDir)
                          : "cannot open " + path;
    return nullptr;
  }
  sqlite3_busy_timeout(store->db_, 5000);
  {
    Statement wal(store->db_, "PRAGMA journal_mode=WAL");
    if (wal.Step() != SQLITE_ROW || wal.Text(0) != "wal") {
      if (error) *error = "cannot switch " + path + " to WAL mode";
      return nullptr;
    }
  }
  // Every upload is on disk before its answer goes out.
  if (!store->Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", error)) return nullptr;

  Transaction tx(store->db_);
  if (!tx.active()) {
    if (error) *error = Explain("cannot lock " + path, sqlite3_errmsg(store->db_), dataDir);
    return nullptr;
  }
  if (!store->Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", error))
    return nullptr;
  int version = 0;
  bool hasRow = false;
  {
    Statement q(store->db_, "SELECT version FROM schema_version");
    if (q.Step() == SQLITE_ROW) {
      version = static_cast<int>(q.Int(0));
      hasRow = true;
    }
  }
  if (version > kSchemaVersion) {
    if (error)
      *error = path + " has schema version " + std::to_string(version) + ", newer than this server's " +
               std::to_string(kSchemaVersion);
    return nullptr;
  }
  for (int step = version; step < kSchemaVersion; ++step)
    if (!store->Exec(kMigrations[step], error)) return nullptr;
  if (version != kSchemaVersion) {
    Statement set(store->db_, hasRow ? "UPDATE schema_version SET version = ?1"
                                     : "INSERT INTO schema_version (version) VALUES (?1)");
    set.Bind(1, static_cast<int64_t>(kSchemaVersion));
    if (set.Step() != SQLITE_DONE) {
      if (error) *error = Explain("cannot record the schema version", sqlite3_errmsg(store->db_), dataDir);
      return nullptr;
    }
  }
  if (std::string why; !tx.Commit(&why)) {
    if (error) *error = Explain("cannot set up " + path, why, dataDir);
    return nullptr;
  }
  if (!store->LoadSecret(error) || !store->LoadAggregates(error)) return nullptr;
  store->SweepPictures(static_cast<int64_t>(std::time(nullptr)), kOrphanPictureSeconds, true);
  return store;
}

bool SqliteStore::LoadSecret(std::string* error) {
  {
    unsigned char key[32];
    std::random_device rd;
    for (unsigned char& b : key) b = static_cast<unsigned char>(rd());
    Statement make(db_, "INSERT OR IGNORE INTO secrets (name, value) VALUES ('digest', ?1)");
    make.BindBlob(1, std::string_view(reinterpret_cast<const char*>(key), sizeof key));
    if (make.Step() != SQLITE_DONE) {
      if (error) *error = Explain("cannot make the digest key", sqlite3_errmsg(db_), folder_);
      return false;
    }
  }
  Statement q(db_, "SELECT value FROM secrets WHERE name = 'digest'");
  if (q.Step() != SQLITE_ROW) {
    if (error) *error = Explain("cannot read the digest key", sqlite3_errmsg(db_), folder_);
    return false;
  }
  secret_ = q.Text(0);
  return true;
}

bool SqliteStore::LoadAggregates(std::string* error) {
  {
    Statement q(db_,
                "SELECT mem_type_key, channels_key, MIN(mem_type), MIN(channels), COUNT(*) FROM results "
                "GROUP BY mem_type_key, channels_key");
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW)
      aggregates_.AddResults(q.Text(0), q.Text(1), q.Text(2), q.Text(3), static_cast<size_t>(q.Int(4)));
    if (rc != SQLITE_DONE) {
      if (error) *error = Explain("cannot count the stored results", sqlite3_errmsg(db_), folder_);
      return false;
    }
  }
  Statement q(
      db_, "SELECT mem_type_key, channels_key, idhash, network, score, mem_clock_mhz, latency_ns FROM votes");
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    Vote v;
    v.score = q.Real(4);
    if (!q.IsNull(5)) v.clock = static_cast<double>(q.Int(5));
    if (!q.IsNull(6)) v.latency = q.Real(6);
    aggregates_.LoadVote(q.Text(0), q.Text(1), q.Text(2), q.Text(3), v);
  }
  aggregates_.Sort();
  if (rc != SQLITE_DONE) {
    if (error) *error = Explain("cannot read the votes", sqlite3_errmsg(db_), folder_);
    return false;
  }
  return true;
}

SqliteStore::~SqliteStore() {
  for (sqlite3* reader : readers_) sqlite3_close(reader);
  if (db_) sqlite3_close(db_);
}

bool SqliteStore::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error) *error = std::string("database: ") + (message ? message : "unknown error");
  sqlite3_free(message);
  return false;
}

size_t SqliteStore::SweepPictures(int64_t now, int64_t orphanSeconds, bool strays) {
  size_t swept = 0;
  std::lock_guard lock(mutex_);
  // Pictures whose record never came.
  std::vector<std::string> stale;
  {
    Statement q(db_, "SELECT stored_name FROM pictures WHERE result_id IS NULL AND received_at < ?1");
    q.Bind(1, now - orphanSeconds);
    while (q.Step() == SQLITE_ROW) stale.push_back(q.Text(0));
  }
  if (!stale.empty()) {
    Statement del(db_, "DELETE FROM pictures WHERE result_id IS NULL AND received_at < ?1");
    del.Bind(1, now - orphanSeconds);
    if (del.Step() == SQLITE_DONE)
      for (const std::string& name : stale) swept += platform::DeleteFile(pictures_ + "/" + name);
  }
  if (!strays) return swept;
  // Files a crash left behind before their row was committed, and half-written siblings. Only
  // old ones: a young file may be another server's upload under way in the same folder.
  return swept + SweepStrayPictures(pictures_, [&](const std::string& name) {
           Statement q(db_, "SELECT 1 FROM pictures WHERE stored_name = ?1");
           q.Bind(1, name);
           return q.Step() == SQLITE_ROW;
         });
}

bool SqliteStore::AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                             const Sender& sender, int64_t now, StoredPicture* out, std::string* error) {
  const std::string& client = sender.client;
  const std::string name = RandomPictureName();
  const std::string file = pictures_ + "/" + name;
  // The file is complete on disk before a row names it; a failed row removes it again.
  if (std::string why; !platform::ReplaceFileAtomically(file, std::string(png), &why)) {
    if (error) *error = Explain("cannot write the picture", why, pictures_);
    return false;
  }
  std::lock_guard lock(mutex_);
  Transaction tx(db_);
  auto fail = [&](const char* what) {
    if (error) *error = Explain(what, sqlite3_errmsg(db_), folder_);
    platform::DeleteFile(file);
    return false;
  };
  if (!tx.active()) return fail("cannot lock the database");
  Statement ins(db_,
                "INSERT INTO pictures (stored_name, link_name, link_client, received_at, bytes, width, "
                "height, network) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  ins.Bind(8, sender.network);
  ins.Bind(1, name).Bind(2, linkName).Bind(3, client).Bind(4, now);
  ins.Bind(5, static_cast<int64_t>(png.size()))
      .Bind(6, static_cast<int64_t>(info.width))
      .Bind(7, static_cast<int64_t>(info.height));
  if (ins.Step() != SQLITE_DONE) return fail("cannot store the picture");
  const int64_t id = sqlite3_last_insert_rowid(db_);

  // Normally the picture comes first; when its record was faster, link it now.
  std::optional<int64_t> resultId;
  {
    Statement find(
        db_,
        "SELECT r.id FROM results r WHERE r.benimage = ?1 AND r.link_client = ?2 AND r.received_at >= ?3 "
        "AND NOT EXISTS (SELECT 1 FROM pictures p WHERE p.result_id = r.id) ORDER BY r.id DESC LIMIT 1");
    find.Bind(1, linkName).Bind(2, client).Bind(3, now - kLinkWindowSeconds);
    if (find.Step() == SQLITE_ROW) resultId = find.Int(0);
  }
  if (resultId) {
    Statement link(db_, "UPDATE pictures SET result_id = ?1 WHERE id = ?2");
    link.Bind(1, *resultId).Bind(2, id);
    if (link.Step() != SQLITE_DONE) return fail("cannot link the picture");
  }
  if (std::string why; !tx.Commit(&why)) {
    if (error) *error = Explain("cannot commit the picture", why, folder_);
    platform::DeleteFile(file);
    return false;
  }
  if (out) *out = StoredPicture{id, name, resultId};
  return true;
}

bool SqliteStore::AddRecord(const UploadedRecord& record, std::string_view raw, const Sender& sender,
                            int64_t now, StoredRecord* out, std::string* error) {
  const std::string& client = sender.client;
  std::lock_guard lock(mutex_);
  Transaction tx(db_);
  auto fail = [&](const char* what) {
    if (error) *error = Explain(what, sqlite3_errmsg(db_), folder_);
    return false;
  };
  if (!tx.active()) return fail("cannot lock the database");
  const auto& f = record.fields;
  Statement ins(
      db_,
      "INSERT INTO results (received_at, link_client, date, time, os, cpu, memory, timings, mainboard, "
      "ram1, ram2, ram3, ram4, read_mbs, write_mbs, copy_mbs, latency_ns, score, cpuclk_mhz, idhash, "
      "country, benimage, version, cpu_cores, mem_type, mem_type_key, channels, channels_key, "
      "mem_clock_mhz, record_file, network) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
      "?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30, ?31) "
      "ON CONFLICT (idhash, date, time) DO NOTHING");
  ins.Bind(31, sender.network);
  ins.Bind(1, now).Bind(2, client).Bind(3, f[kDate]).Bind(4, f[kTime]).Bind(5, f[kOs]).Bind(6, f[kCpu]);
  ins.Bind(7, f[kMemory]).Bind(8, f[kTimings]).Bind(9, f[kMainboard]);
  ins.Bind(10, f[kRam1]).Bind(11, f[kRam2]).Bind(12, f[kRam3]).Bind(13, f[kRam4]);
  ins.Bind(14, static_cast<int64_t>(record.read)).Bind(15, static_cast<int64_t>(record.write));
  ins.Bind(16, static_cast<int64_t>(record.copy));
  if (record.latencyNs)
    ins.Bind(17, *record.latencyNs);
  else
    ins.BindNull(17);
  ins.Bind(18, record.score).Bind(19, static_cast<int64_t>(record.cpuClockMHz)).Bind(20, record.idHash);
  ins.Bind(21, f[kCountry])
      .Bind(22, f[kBenImage])
      .Bind(23, f[kVersion])
      .Bind(24, static_cast<int64_t>(record.cpuCores));
  ins.Bind(25, record.memory.type).Bind(26, MatchKey(record.memory.type));
  ins.Bind(27, record.memory.channels).Bind(28, MatchKey(record.memory.channels));
  if (record.memory.clockMHz > 0)
    ins.Bind(29, static_cast<int64_t>(record.memory.clockMHz));
  else
    ins.BindNull(29);
  ins.BindBlob(30, raw);
  if (ins.Step() != SQLITE_DONE) return fail("cannot store the record");

  StoredRecord stored;
  stored.duplicate = sqlite3_changes(db_) == 0;
  if (stored.duplicate) {
    Statement q(db_, "SELECT id FROM results WHERE idhash = ?1 AND date = ?2 AND time = ?3");
    q.Bind(1, record.idHash).Bind(2, f[kDate]).Bind(3, f[kTime]);
    if (q.Step() != SQLITE_ROW) return fail("cannot find the stored record");
    stored.id = q.Int(0);
  } else {
    stored.id = sqlite3_last_insert_rowid(db_);
    const std::string typeKey = MatchKey(record.memory.type), channelsKey = MatchKey(record.memory.channels);
    if (!typeKey.empty() && !channelsKey.empty()) {
      Statement vote(
          db_,
          "INSERT INTO votes (mem_type_key, channels_key, idhash, result_id, score, mem_clock_mhz, "
          "latency_ns, read_mbs, write_mbs, copy_mbs, network) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
          "?8, ?9, ?10, ?11) ON CONFLICT DO UPDATE SET result_id = excluded.result_id, score = "
          "excluded.score, mem_clock_mhz = excluded.mem_clock_mhz, latency_ns = excluded.latency_ns, "
          "read_mbs = excluded.read_mbs, write_mbs = excluded.write_mbs, copy_mbs = excluded.copy_mbs");
      vote.Bind(11, sender.network);
      vote.Bind(1, typeKey)
          .Bind(2, channelsKey)
          .Bind(3, record.idHash)
          .Bind(4, stored.id)
          .Bind(5, record.score);
      if (record.memory.clockMHz > 0)
        vote.Bind(6, static_cast<int64_t>(record.memory.clockMHz));
      else
        vote.BindNull(6);
      if (record.latencyNs)
        vote.Bind(7, *record.latencyNs);
      else
        vote.BindNull(7);
      vote.Bind(8, static_cast<int64_t>(record.read))
          .Bind(9, static_cast<int64_t>(record.write))
          .Bind(10, static_cast<int64_t>(record.copy));
      if (vote.Step() != SQLITE_DONE) return fail("cannot count the result");
    }
  }

  {
    Statement has(db_, "SELECT 1 FROM pictures WHERE result_id = ?1");
    has.Bind(1, stored.id);
    stored.pictureLinked = has.Step() == SQLITE_ROW;
  }
  if (!stored.pictureLinked) {
    Statement find(db_,
                   "SELECT id FROM pictures WHERE result_id IS NULL AND link_name = ?1 AND link_client = ?2 "
                   "AND received_at >= ?3 ORDER BY id DESC LIMIT 1");
    find.Bind(1, f[kBenImage]).Bind(2, client).Bind(3, now - kLinkWindowSeconds);
    if (find.Step() == SQLITE_ROW) {
      Statement link(db_, "UPDATE pictures SET result_id = ?1 WHERE id = ?2");
      link.Bind(1, stored.id).Bind(2, find.Int(0));
      if (link.Step() != SQLITE_DONE) return fail("cannot link the picture");
      stored.pictureLinked = true;
    }
  }
  if (std::string why; !tx.Commit(&why)) {
    if (error) *error = Explain("cannot commit the record", why, folder_);
    return false;
  }
  if (!stored.duplicate) {
    const std::string typeKey = MatchKey(record.memory.type), channelsKey = MatchKey(record.memory.channels);
    aggregates_.AddResult(typeKey, channelsKey, record.memory.type, record.memory.channels);
    Vote v;
    v.score = record.score;
    if (record.memory.clockMHz > 0) v.clock = static_cast<double>(record.memory.clockMHz);
    v.latency = record.latencyNs;
    aggregates_.SetVote(typeKey, channelsKey, record.idHash, sender.network, v);
  }
  if (out) *out = stored;
  return true;
}

MatchedValues SqliteStore::Matching(std::string_view type, std::string_view channels) {
  return aggregates_.Matching(MatchKey(type), MatchKey(channels));
}

CompareRanges SqliteStore::Ranges(std::string_view type, std::string_view channels) {
  return aggregates_.Ranges(type, channels);
}

std::vector<std::pair<double, double>> SqliteStore::ClockAndScore(std::string_view type,
                                                                  std::string_view channels, size_t limit) {
  return aggregates_.ClockAndScore(MatchKey(type), MatchKey(channels), limit);
}

ScoreHistogram SqliteStore::Histogram(std::string_view type, std::string_view channels, size_t bins) {
  return aggregates_.Histogram(MatchKey(type), MatchKey(channels), bins);
}

std::optional<Rank> SqliteStore::RankOf(const ResultRow& row) {
  return aggregates_.RankOf(MatchKey(row.memType), MatchKey(row.channels), row.network, row.score);
}

namespace {

constexpr const char* kRowColumns =
    "r.id, r.received_at, r.date, r.time, r.os, r.cpu, r.memory, r.timings, r.mainboard, r.ram1, r.ram2, "
    "r.ram3, "
    "r.ram4, r.country, r.version, r.read_mbs, r.write_mbs, r.copy_mbs, r.cpuclk_mhz, r.cpu_cores, "
    "r.latency_ns, "
    "r.score, r.mem_type, r.channels, r.mem_clock_mhz, p.stored_name, r.idhash, r.benimage, r.network";

ResultRow ReadRow(Statement& q) {
  ResultRow r;
  r.id = q.Int(0);
  r.receivedAt = q.Int(1);
  r.date = q.Text(2);
  r.time = q.Text(3);
  r.os = q.Text(4);
  r.cpu = q.Text(5);
  r.memory = q.Text(6);
  r.timings = q.Text(7);
  r.mainboard = q.Text(8);
  for (int i = 0; i < 4; ++i) r.ram[i] = q.Text(9 + i);
  r.country = q.Text(13);
  r.version = q.Text(14);
  r.read = q.Int(15);
  r.write = q.Int(16);
  r.copy = q.Int(17);
  r.cpuClockMHz = q.Int(18);
  r.cpuCores = q.Int(19);
  if (!q.IsNull(20)) r.latencyNs = q.Real(20);
  r.score = q.Real(21);
  r.memType = q.Text(22);
  r.channels = q.Text(23);
  r.memClockMHz = q.IsNull(24) ? 0 : static_cast<int>(q.Int(24));
  if (!q.IsNull(25)) r.picture = q.Text(25);
  r.idHash = q.Text(26);
  r.benImage = q.Text(27);
  r.network = q.Text(28);
  return r;
}

}  // namespace

std::vector<ResultRow> SqliteStore::Recent(const ResultFilter& filter, bool* cut) {
  std::vector<ResultRow> rows;
  if (cut) *cut = false;
  const bool ranked = filter.sort != SortKey::Newest;
  const std::string typeKey = MatchKey(filter.type), channelsKey = MatchKey(filter.channels);
  // Only the conditions in use go into the statement, so each list reads one index in order.
  std::string sql = std::string("SELECT ") + kRowColumns;
  const std::string kind = ranked ? "v" : "r";
  const std::string column = SortColumn(filter.sort);
  const std::string direction = filter.sort == SortKey::Latency ? "ASC" : "DESC";
  if (ranked && filter.text.empty() && !typeKey.empty() && !channelsKey.empty()) {
    // A page of a ranking, walked in the index (which holds each vote's network): a network shows
    // its best kRankedPerNetwork machines, so a crowd of made-up ones cannot fill the top.
    Reader reader(*this);
    if (!reader.db()) return rows;
    Deadline deadline(reader.db(), filter.budget);
    const std::string walkSql =
        "SELECT result_id, network FROM votes WHERE mem_type_key = ?1 AND channels_key = ?2" +
        std::string(filter.sort == SortKey::Latency ? " AND latency_ns IS NOT NULL" : "") + " ORDER BY " +
        column + " " + direction + ", result_id DESC";
    Statement walk(reader.db(), walkSql.c_str());
    walk.Bind(1, typeKey).Bind(2, channelsKey);
    std::unordered_map<std::string, size_t> shown;
    std::vector<int64_t> ids;
    size_t skipped = 0;
    int rc = SQLITE_DONE;
    while (ids.size() < filter.limit && (rc = walk.Step()) == SQLITE_ROW) {
      if (++shown[walk.Text(1)] > kRankedPerNetwork) continue;
      if (skipped < filter.offset) {
        ++skipped;
        continue;
      }
      ids.push_back(walk.Int(0));
    }
    if (cut) *cut = ids.size() < filter.limit && rc == SQLITE_INTERRUPT;
    sql += " FROM results r LEFT JOIN pictures p ON p.result_id = r.id WHERE r.id = ?1";
    Statement one(reader.db(), sql.c_str());
    for (int64_t id : ids) {
      one.Reset();
      one.Bind(1, id);
      if (one.Step() == SQLITE_ROW) rows.push_back(ReadRow(one));
    }
    for (ResultRow& row : rows) Fill(row);
    return rows;
  }
  size_t characters = 0;
  for (unsigned char c : filter.text) characters += (c & 0xc0) != 0x80;
  // The newest results with a text are read from the index in its own order, newest first, and
  // stop at the page's end: a common word costs as little as a rare one.
  const bool fromIndex = !ranked && characters >= 3;
  const std::string order = fromIndex ? "t.rowid" : "r.id";
  sql += ranked      ? " FROM votes v JOIN results r ON r.id = v.result_id"
         : fromIndex ? " FROM results_text t JOIN results r ON r.id = t.rowid"
                     : " FROM results r";
  sql += " LEFT JOIN pictures p ON p.result_id = r.id WHERE 1";
  if (!typeKey.empty()) sql += " AND " + kind + ".mem_type_key = ?1";
  if (!channelsKey.empty()) sql += " AND " + kind + ".channels_key = ?2";
  std::string like, phrase;
  if (characters >= 3) {
    // Three characters or more: the trigram index finds them, as a phrase of its own syntax.
    phrase = "\"";
    for (char c : filter.text) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
    phrase += "\"";
    sql += fromIndex ? " AND results_text MATCH ?3"
                     : " AND r.id IN (SELECT rowid FROM results_text WHERE results_text MATCH ?3)";
  } else if (!filter.text.empty()) {
    for (char c : filter.text) {
      if (c == '%' || c == '_' || c == '!') like += '!';
      like += c;
    }
    like = "%" + like + "%";
    sql +=
        " AND (r.cpu LIKE ?3 ESCAPE '!' OR r.mainboard LIKE ?3 ESCAPE '!' OR r.ram1 LIKE ?3 ESCAPE '!' OR "
        "r.ram2 LIKE ?3 ESCAPE '!' OR r.ram3 LIKE ?3 ESCAPE '!' OR r.ram4 LIKE ?3 ESCAPE '!')";
    // Too short for the index: rows are read one by one, so only the newest are searched.
    sql += " AND r.id > (SELECT MAX(id) FROM results) - " + std::to_string(kSearchedResults);
  }
  bool reverse = false;
  switch (filter.sort) {
    case SortKey::Newest:
      if (filter.afterId) {
        sql += " AND " + order + " > ?4 ORDER BY " + order + " ASC";
        reverse = true;
      } else {
        if (filter.beforeId) sql += " AND " + order + " < ?4";
        sql += " ORDER BY " + order + " DESC";
      }
      break;
    case SortKey::Score:
      sql += " ORDER BY v.score DESC, r.id DESC";
      break;
    case SortKey::Read:
      sql += " ORDER BY v.read_mbs DESC, r.id DESC";
      break;
    case SortKey::Write:
      sql += " ORDER BY v.write_mbs DESC, r.id DESC";
      break;
    case SortKey::Copy:
      sql += " ORDER BY v.copy_mbs DESC, r.id DESC";
      break;
    case SortKey::Latency:
      sql += " AND v.latency_ns IS NOT NULL ORDER BY v.latency_ns ASC, r.id DESC";
      break;
  }
  sql += " LIMIT ?5 OFFSET ?6";
  Reader reader(*this);
  if (!reader.db()) return rows;
  Deadline deadline(reader.db(), filter.budget);
  Statement q(reader.db(), sql.c_str());
  if (!typeKey.empty()) q.Bind(1, typeKey);
  if (!channelsKey.empty()) q.Bind(2, channelsKey);
  if (!like.empty()) q.Bind(3, like);
  if (!phrase.empty()) q.Bind(3, phrase);
  if (filter.afterId || filter.beforeId) q.Bind(4, filter.afterId ? filter.afterId : filter.beforeId);
  q.Bind(5, static_cast<int64_t>(filter.limit)).Bind(6, static_cast<int64_t>(ranked ? filter.offset : 0));
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) rows.push_back(ReadRow(q));
  if (cut) *cut = rc == SQLITE_INTERRUPT;
  if (reverse) std::reverse(rows.begin(), rows.end());
  for (ResultRow& row : rows) Fill(row);
  return rows;
}

std::optional<ResultRow> SqliteStore::Result(int64_t id) {
  Reader reader(*this);
  if (!reader.db()) return std::nullopt;
  const std::string sql =
      std::string("SELECT ") + kRowColumns +
      ", r.record_file FROM results r LEFT JOIN pictures p ON p.result_id = r.id WHERE r.id = ?1";
  Statement q(reader.db(), sql.c_str());
  q.Bind(1, id);
  if (q.Step() != SQLITE_ROW) return std::nullopt;
  ResultRow row = ReadRow(q);
  row.record = q.Text(29);
  Fill(row);
  return row;
}

std::vector<MemoryKind> SqliteStore::Kinds() { return aggregates_.Kinds(); }

std::optional<MemoryKind> SqliteStore::KindOf(std::string_view type, std::string_view channels) {
  return aggregates_.KindOf(MatchKey(type), MatchKey(channels));
}

size_t SqliteStore::ResultCount() { return aggregates_.Results(); }

size_t SqliteStore::PictureCount() {
  Reader reader(*this);
  Statement q(reader.db(), "SELECT COUNT(*) FROM pictures");
  return q.Step() == SQLITE_ROW ? static_cast<size_t>(q.Int(0)) : 0;
}

size_t SqliteStore::WaitingPictures(int64_t since) {
  Reader reader(*this);
  Statement q(reader.db(), "SELECT COUNT(*) FROM pictures WHERE result_id IS NULL AND received_at >= ?1");
  q.Bind(1, since);
  return q.Step() == SQLITE_ROW ? static_cast<size_t>(q.Int(0)) : 0;
}

size_t SqliteStore::WaitingPictures(int64_t since, const std::string& network) {
  Reader reader(*this);
  Statement q(reader.db(),
              "SELECT COUNT(*) FROM pictures WHERE result_id IS NULL AND network = ?1 AND received_at >= ?2");
  q.Bind(1, network).Bind(2, since);
  return q.Step() == SQLITE_ROW ? static_cast<size_t>(q.Int(0)) : 0;
}

size_t SqliteStore::WaitingPictureBytes(int64_t since) {
  Reader reader(*this);
  Statement q(reader.db(), "SELECT TOTAL(bytes) FROM pictures WHERE result_id IS NULL AND received_at >= ?1");
  q.Bind(1, since);
  return q.Step() == SQLITE_ROW ? static_cast<size_t>(q.Real(0)) : 0;
}

int SqliteStore::SchemaVersionInFile() {
  Reader reader(*this);
  Statement q(reader.db(), "SELECT version FROM schema_version");
  return q.Step() == SQLITE_ROW ? static_cast<int>(q.Int(0)) : 0;
}

std::optional<std::string> SqliteStore::PicturePath(std::string_view storedName) {
  if (!IsStoredPictureName(storedName)) return std::nullopt;
  Reader reader(*this);
  Statement q(reader.db(), "SELECT 1 FROM pictures WHERE stored_name = ?1");
  q.Bind(1, storedName);
  if (q.Step() != SQLITE_ROW) return std::nullopt;
  return pictures_ + "/" + std::string(storedName);
}

}  // namespace qvserver
