// The store in a PostgreSQL database that several servers share. Every rule lives in the
// database: the votes, the waiting pictures, the upload tokens and the digest key; each server keeps
// only a copy of the aggregates, brought up to date from the database twice a second.
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <thread>
#include <unordered_map>

#include "platform/file_io.h"
#include "server/store.h"
#include "server/store_files.h"

namespace qvserver {

namespace {

// Each step brings the schema from its index to the next version; never edit a shipped step,
// append a new one.
const char* const kPgMigrations[] = {
    R"sql(
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE TABLE results (
  id            bigserial PRIMARY KEY,
  received_at   bigint NOT NULL,
  link_client   text NOT NULL,
  date          text NOT NULL,
  time          text NOT NULL,
  os            text NOT NULL,
  cpu           text NOT NULL,
  memory        text NOT NULL,
  timings       text NOT NULL,
  mainboard     text NOT NULL,
  ram1          text NOT NULL,
  ram2          text NOT NULL,
  ram3          text NOT NULL,
  ram4          text NOT NULL,
  read_mbs      bigint NOT NULL,
  write_mbs     bigint NOT NULL,
  copy_mbs      bigint NOT NULL,
  latency_ns    double precision,
  score         double precision NOT NULL,
  cpuclk_mhz    bigint NOT NULL,
  idhash        text NOT NULL,
  country       text NOT NULL,
  benimage      text NOT NULL,
  version       text NOT NULL,
  cpu_cores     bigint NOT NULL,
  mem_type      text NOT NULL,
  mem_type_key  text NOT NULL,
  channels      text NOT NULL,
  channels_key  text NOT NULL,
  mem_clock_mhz integer,
  record_file   bytea NOT NULL,
  network       text NOT NULL,
  UNIQUE (idhash, date, time)
);
CREATE INDEX results_by_kind ON results (mem_type_key, channels_key, id);
CREATE INDEX results_by_link ON results (benimage, link_client);
-- Searches read this index of three-character pieces; no stored text holds a line break.
CREATE INDEX results_text ON results USING gin
  ((cpu || E'\n' || mainboard || E'\n' || ram1 || E'\n' || ram2 || E'\n' || ram3 || E'\n' || ram4) gin_trgm_ops);
CREATE TABLE pictures (
  id          bigserial PRIMARY KEY,
  stored_name text NOT NULL UNIQUE,
  link_name   text NOT NULL,
  link_client text NOT NULL,
  received_at bigint NOT NULL,
  bytes       bigint NOT NULL,
  width       bigint NOT NULL,
  height      bigint NOT NULL,
  result_id   bigint UNIQUE REFERENCES results (id),
  network     text NOT NULL
);
CREATE INDEX pictures_by_link ON pictures (link_name, link_client);
CREATE INDEX pictures_waiting ON pictures (received_at) WHERE result_id IS NULL;
CREATE INDEX pictures_waiting_by_network ON pictures (network, received_at) WHERE result_id IS NULL;
-- One vote per machine, sending network and kind. seq grows with every change, so each server
-- reads only the votes changed since it last looked.
CREATE SEQUENCE votes_seq;
CREATE TABLE votes (
  mem_type_key  text NOT NULL,
  channels_key  text NOT NULL,
  idhash        text NOT NULL,
  network       text NOT NULL,
  result_id     bigint NOT NULL REFERENCES results (id),
  score         double precision NOT NULL,
  mem_clock_mhz integer,
  latency_ns    double precision,
  read_mbs      bigint NOT NULL,
  write_mbs     bigint NOT NULL,
  copy_mbs      bigint NOT NULL,
  seq           bigint NOT NULL DEFAULT nextval('votes_seq'),
  PRIMARY KEY (mem_type_key, channels_key, idhash, network)
);
CREATE INDEX votes_by_seq ON votes (seq);
CREATE INDEX votes_by_score ON votes (mem_type_key, channels_key, score, result_id) INCLUDE (network);
CREATE INDEX votes_by_read ON votes (mem_type_key, channels_key, read_mbs, result_id) INCLUDE (network);
CREATE INDEX votes_by_write ON votes (mem_type_key, channels_key, write_mbs, result_id) INCLUDE (network);
CREATE INDEX votes_by_copy ON votes (mem_type_key, channels_key, copy_mbs, result_id) INCLUDE (network);
CREATE INDEX votes_by_latency ON votes (mem_type_key, channels_key, latency_ns, result_id) INCLUDE (network);
CREATE TABLE secrets (name text PRIMARY KEY, value bytea NOT NULL);
-- Each network's upload tokens, counted alike by every server; rows go once full again.
CREATE TABLE upload_buckets (
  network text PRIMARY KEY,
  tokens  double precision NOT NULL,
  at      double precision NOT NULL,
  full_at double precision NOT NULL
);
CREATE INDEX upload_buckets_full ON upload_buckets (full_at);
)sql",
};
constexpr int kPgSchemaVersion = kPostgresSchemaVersion;
static_assert(std::size(kPgMigrations) == kPgSchemaVersion);

// Advisory lock keys: one writer at a time takes ids and vote numbers, so every server that has
// seen a number has seen every smaller one; migrations run one server at a time.
constexpr const char* kWriterLock = "SELECT pg_advisory_xact_lock(7420001)";
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7420002)";
constexpr std::chrono::milliseconds kRefreshEvery{500};
constexpr long kWriteTimeoutMs = 30000;

// A statement's parameters, each as text (or bytes) with its number handed back for the SQL.
class Params {
 public:
  std::string Add(std::string_view text) { return Push(std::string(text), false, false); }
  std::string Add(int64_t v) { return Push(std::to_string(v), false, false); }
  std::string Add(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return Push(text, false, false);
  }
  std::string AddNull() { return Push({}, true, false); }
  std::string AddBytes(std::string_view bytes) { return Push(std::string(bytes), false, true); }
  template <typename T>
  std::string AddOptional(const std::optional<T>& v) {
    return v ? Add(*v) : AddNull();
  }

  int size() const { return static_cast<int>(values_.size()); }
  const char* const* values() {
    pointers_.clear();
    for (size_t i = 0; i < values_.size(); ++i) pointers_.push_back(nulls_[i] ? nullptr : values_[i].c_str());
    return pointers_.data();
  }
  const int* lengths() {
    lengths_.clear();
    for (const auto& v : values_) lengths_.push_back(static_cast<int>(v.size()));
    return lengths_.data();
  }
  const int* formats() const { return formats_.data(); }

 private:
  std::string Push(std::string value, bool null, bool binary) {
    values_.push_back(std::move(value));
    nulls_.push_back(null);
    formats_.push_back(binary ? 1 : 0);
    return "$" + std::to_string(values_.size());
  }
  std::deque<std::string> values_;
  std::vector<bool> nulls_;
  std::vector<int> formats_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
};

class PgResult {
 public:
  explicit PgResult(PGresult* r = nullptr) : r_(r) {}
  ~PgResult() { PQclear(r_); }
  PgResult(PgResult&& o) noexcept : r_(std::exchange(o.r_, nullptr)) {}
  PgResult& operator=(PgResult&& o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  PGresult* get() const { return r_; }
  bool Ok() const {
    const auto s = PQresultStatus(r_);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_SINGLE_TUPLE;
  }
  int Rows() const { return PQntuples(r_); }
  bool IsNull(int row, int col) const { return PQgetisnull(r_, row, col); }
  std::string Text(int row, int col) const {
    return std::string(PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col)));
  }
  int64_t Int(int row, int col) const { return std::strtoll(PQgetvalue(r_, row, col), nullptr, 10); }
  double Real(int row, int col) const { return std::strtod(PQgetvalue(r_, row, col), nullptr); }
  // A bytea column in text form ("\x" and hex digits) as its bytes.
  std::string Bytes(int row, int col) const {
    const std::string hex = Text(row, col);
    std::string bytes;
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 2; i + 1 < hex.size(); i += 2)
      bytes += static_cast<char>(digit(hex[i]) << 4 | digit(hex[i + 1]));
    return bytes;
  }
  std::string State() const {
    const char* s = PQresultErrorField(r_, PG_DIAG_SQLSTATE);
    return s ? s : "";
  }
  std::string Message() const {
    std::string m = PQresultErrorMessage(r_);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
  }

 private:
  PGresult* r_;
};

PgResult Run(PGconn* c, const std::string& sql, Params& p) {
  return PgResult(PQexecParams(c, sql.c_str(), p.size(), nullptr, p.values(), p.lengths(), p.formats(), 0));
}

// Without parameters: one or more statements of the program's own text.
PgResult Run(PGconn* c, const std::string& sql) { return PgResult(PQexec(c, sql.c_str())); }

std::string Why(PGconn* c, const PgResult& r) {
  const std::string m = r.get() ? r.Message() : "";
  if (!m.empty()) return m;
  std::string e = PQerrorMessage(c);
  while (!e.empty() && e.back() == '\n') e.pop_back();
  return e.empty() ? "no answer from the database" : e;
}

// Rows one by one as the database makes them, so a statement cut by its time limit still hands
// over what it found. Returns false on an error; cut tells whether that was the time limit.
bool EachRow(PGconn* c, const std::string& sql, Params& p,
             const std::function<void(const PgResult&, int)>& row, bool* cut = nullptr,
             std::string* why = nullptr) {
  if (cut) *cut = false;
  if (!PQsendQueryParams(c, sql.c_str(), p.size(), nullptr, p.values(), p.lengths(), p.formats(), 0)) {
    if (why) *why = PQerrorMessage(c);
    return false;
  }
  PQsetSingleRowMode(c);
  bool ok = true;
  while (PGresult* raw = PQgetResult(c)) {
    PgResult r(raw);
    const auto status = PQresultStatus(raw);
    if (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) {
      for (int i = 0; i < r.Rows(); ++i) row(r, i);
    } else if (status != PGRES_COMMAND_OK) {
      ok = false;
      if (cut && r.State() == "57014") *cut = true;  // query_canceled: the statement timeout
      if (why) *why = r.Message();
    }
  }
  return ok;
}

constexpr const char* kRowColumns =
    "r.id, r.received_at, r.date, r.time, r.os, r.cpu, r.memory, r.timings, r.mainboard, r.ram1, r.ram2, "
    "r.ram3, r.ram4, r.country, r.version, r.read_mbs, r.write_mbs, r.copy_mbs, r.cpuclk_mhz, r.cpu_cores, "
    "r.latency_ns, r.score, r.mem_type, r.channels, r.mem_clock_mhz, p.stored_name, r.idhash, r.benimage, "
    "r.network";

ResultRow ReadRow(const PgResult& q, int i) {
  ResultRow r;
  r.id = q.Int(i, 0);
  r.receivedAt = q.Int(i, 1);
  r.date = q.Text(i, 2);
  r.time = q.Text(i, 3);
  r.os = q.Text(i, 4);
  r.cpu = q.Text(i, 5);
  r.memory = q.Text(i, 6);
  r.timings = q.Text(i, 7);
  r.mainboard = q.Text(i, 8);
  for (int k = 0; k < 4; ++k) r.ram[k] = q.Text(i, 9 + k);
  r.country = q.Text(i, 13);
  r.version = q.Text(i, 14);
  r.read = q.Int(i, 15);
  r.write = q.Int(i, 16);
  r.copy = q.Int(i, 17);
  r.cpuClockMHz = q.Int(i, 18);
  r.cpuCores = q.Int(i, 19);
  if (!q.IsNull(i, 20)) r.latencyNs = q.Real(i, 20);
  r.score = q.Real(i, 21);
  r.memType = q.Text(i, 22);
  r.channels = q.Text(i, 23);
  r.memClockMHz = q.IsNull(i, 24) ? 0 : static_cast<int>(q.Int(i, 24));
  if (!q.IsNull(i, 25)) r.picture = q.Text(i, 25);
  r.idHash = q.Text(i, 26);
  r.benImage = q.Text(i, 27);
  r.network = q.Text(i, 28);
  return r;
}

}  // namespace

class PgStore final : public Store {
 public:
  ~PgStore() override;

  bool AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                  const Sender& sender, int64_t now, StoredPicture* out, std::string* error) override;
  bool AddRecord(const UploadedRecord& record, std::string_view raw, const Sender& sender, int64_t now,
                 StoredRecord* out, std::string* error) override;
  MatchedValues Matching(std::string_view type, std::string_view channels) override {
    return aggregates_.Matching(MatchKey(type), MatchKey(channels));
  }
  CompareRanges Ranges(std::string_view type, std::string_view channels) override {
    return aggregates_.Ranges(type, channels);
  }
  std::optional<Rank> RankOf(const ResultRow& row) override {
    return aggregates_.RankOf(MatchKey(row.memType), MatchKey(row.channels), row.network, row.score);
  }
  std::vector<std::pair<double, double>> ClockAndScore(std::string_view type, std::string_view channels,
                                                       size_t limit) override {
    return aggregates_.ClockAndScore(MatchKey(type), MatchKey(channels), limit);
  }
  ScoreHistogram Histogram(std::string_view type, std::string_view channels, size_t bins) override {
    return aggregates_.Histogram(MatchKey(type), MatchKey(channels), bins);
  }
  std::vector<ResultRow> Recent(const ResultFilter& filter, bool* cut) override;
  std::optional<ResultRow> Result(int64_t id) override;
  std::vector<ResultRow> Ranking(const ResultFilter& filter, const std::string& column, bool* cut);
  std::vector<MemoryKind> Kinds() override { return aggregates_.Kinds(); }
  std::optional<MemoryKind> KindOf(std::string_view type, std::string_view channels) override {
    return aggregates_.KindOf(MatchKey(type), MatchKey(channels));
  }
  size_t ResultCount() override { return aggregates_.Results(); }
  size_t PictureCount() override { return Count("SELECT count(*) FROM pictures", {}); }
  size_t WaitingPictures(int64_t since) override {
    return Count("SELECT count(*) FROM pictures WHERE result_id IS NULL AND received_at >= $1",
                 {std::to_string(since)});
  }
  size_t WaitingPictures(int64_t since, const std::string& network) override {
    return Count(
        "SELECT count(*) FROM pictures WHERE result_id IS NULL AND network = $1 AND received_at >= $2",
        {network, std::to_string(since)});
  }
  size_t WaitingPictureBytes(int64_t since) override {
    return Count("SELECT coalesce(sum(bytes), 0) FROM pictures WHERE result_id IS NULL AND received_at >= $1",
                 {std::to_string(since)});
  }
  const std::string& Secret() const override { return secret_; }
  int SchemaVersionInFile() override {
    return static_cast<int>(Count("SELECT version FROM schema_version", {}));
  }
  std::optional<bool> TakeUpload(const std::string& network, unsigned burst, int64_t refillSeconds) override;
  std::string Where() const override { return where_; }
  std::optional<std::string> PicturePath(std::string_view storedName) override;
  size_t SweepPictures(int64_t now, int64_t orphanSeconds, bool strays) override;
  const std::string& folder() const override { return folder_; }

 private:
  friend class Store;
  // A connection of the pool for the span of one call; a broken one is dropped, not reused.
  struct Link {
    PGconn* conn = nullptr;
    long timeoutMs = -1;  // the statement_timeout last set on it
  };
  class Lease {
   public:
    explicit Lease(PgStore& store);
    ~Lease();
    PGconn* get() const { return link_.conn; }
    // Statements on this connection stop after ms.
    bool Budget(long ms);

   private:
    PgStore& store_;
    Link link_;
  };

  bool Migrate(PGconn* c, std::string* error);
  bool LoadSecret(PGconn* c, std::string* error);
  bool Load(PGconn* c, std::string* error);
  // Brings the aggregates up to what the database holds: results and votes newer than seen.
  void Refresh(PGconn* c);
  void Refresher();
  size_t Count(const char* sql, std::vector<std::string> values);
  void Fill(ResultRow& row) const { row.machine = KeyedDigest(secret_, "machine " + row.idHash, 12); }

  std::string connection_;
  std::mutex poolMutex_;
  std::vector<Link> idle_;
  Aggregates aggregates_;
  std::mutex refreshMutex_;
  int64_t seenResult_ = 0, seenVote_ = 0;  // under refreshMutex_
  std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  bool stop_ = false;
  std::thread refresher_;
  std::string folder_, pictures_, secret_, where_;
};

PgStore::Lease::Lease(PgStore& store) : store_(store) {
  {
    std::lock_guard lock(store_.poolMutex_);
    if (!store_.idle_.empty()) {
      link_ = store_.idle_.back();
      store_.idle_.pop_back();
      return;
    }
  }
  link_.conn = PQconnectdb(store_.connection_.c_str());
  // The schema's "already exists, skipping" and the like are no news for the log.
  if (link_.conn)
    PQsetNoticeProcessor(
        link_.conn, [](void*, const char*) {}, nullptr);
}

PgStore::Lease::~Lease() {
  if (!link_.conn) return;
  if (PQstatus(link_.conn) != CONNECTION_OK || PQtransactionStatus(link_.conn) != PQTRANS_IDLE) {
    PQfinish(link_.conn);
    return;
  }
  std::lock_guard lock(store_.poolMutex_);
  store_.idle_.push_back(link_);
}

bool PgStore::Lease::Budget(long ms) {
  if (link_.timeoutMs == ms) return true;
  Params p;
  const std::string n = p.Add(std::to_string(ms) + "ms");
  if (!Run(link_.conn, "SELECT set_config('statement_timeout', " + n + ", false)", p).Ok()) return false;
  link_.timeoutMs = ms;
  return true;
}

bool Store::IsPostgres(std::string_view where) {
  return where.substr(0, 13) == "postgresql://" || where.substr(0, 11) == "postgres://" ||
         where.find('=') != std::string_view::npos;
}

std::unique_ptr<Store> Store::OpenPostgres(const std::string& connection, const std::string& dataDir,
                                           std::string* error) {
  std::unique_ptr<PgStore> store(new PgStore());
  store->connection_ = connection;
  store->folder_ = dataDir;
  store->pictures_ = dataDir + "/pictures";
  if (!platform::MakeFolders(store->pictures_)) {
    if (error) *error = "cannot create the picture folder " + store->pictures_;
    return nullptr;
  }
  {
    PgStore::Lease c(*store);
    if (!c.get() || PQstatus(c.get()) != CONNECTION_OK) {
      std::string why = c.get() ? PQerrorMessage(c.get()) : "out of memory";
      while (!why.empty() && why.back() == '\n') why.pop_back();
      if (error) *error = "cannot reach the PostgreSQL database: " + why;
      return nullptr;
    }
    store->where_ = std::string("PostgreSQL database ") + PQdb(c.get()) + " on " +
                    (PQhost(c.get()) ? PQhost(c.get()) : "its socket") + ", pictures in " + store->pictures_;
    if (!c.Budget(kWriteTimeoutMs * 10) || !store->Migrate(c.get(), error) ||
        !store->LoadSecret(c.get(), error) || !store->Load(c.get(), error))
      return nullptr;
  }
  store->SweepPictures(static_cast<int64_t>(std::time(nullptr)), kOrphanPictureSeconds, true);
  store->refresher_ = std::thread([s = store.get()] { s->Refresher(); });
  return store;
}

bool PgStore::Migrate(PGconn* c, std::string* error) {
  auto fail = [&](const std::string& what, const PgResult& r) {
    if (error) *error = what + ": " + Why(c, r);
    Run(c, "ROLLBACK");
    return false;
  };
  if (auto r = Run(c, "BEGIN"); !r.Ok()) return fail("cannot start the schema's set-up", r);
  if (auto r = Run(c, kMigrationLock); !r.Ok()) return fail("cannot lock the schema", r);
  if (auto r = Run(c, "CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)"); !r.Ok())
    return fail("cannot make the schema's version table", r);
  auto q = Run(c, "SELECT version FROM schema_version");
  if (!q.Ok()) return fail("cannot read the schema version", q);
  const bool hasRow = q.Rows() > 0;
  const int version = hasRow ? static_cast<int>(q.Int(0, 0)) : 0;
  if (version > kPgSchemaVersion) {
    Run(c, "ROLLBACK");
    if (error)
      *error = "the database has schema version " + std::to_string(version) + ", newer than this server's " +
               std::to_string(kPgSchemaVersion);
    return false;
  }
  for (int step = version; step < kPgSchemaVersion; ++step)
    if (auto r = Run(c, kPgMigrations[step]); !r.Ok())
      return fail("cannot bring the schema to version " + std::to_string(step + 1), r);
  if (version != kPgSchemaVersion) {
    Params p;
    const std::string v = p.Add(static_cast<int64_t>(kPgSchemaVersion));
    auto r = Run(c,
                 hasRow ? "UPDATE schema_version SET version = " + v
                        : "INSERT INTO schema_version (version) VALUES (" + v + ")",
                 p);
    if (!r.Ok()) return fail("cannot record the schema version", r);
  }
  auto r = Run(c, "COMMIT");
  if (!r.Ok() || std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0) return fail("cannot set up the schema", r);
  return true;
}

bool PgStore::LoadSecret(PGconn* c, std::string* error) {
  unsigned char key[32];
  std::random_device rd;
  for (unsigned char& b : key) b = static_cast<unsigned char>(rd());
  Params p;
  const std::string k = p.AddBytes(std::string_view(reinterpret_cast<const char*>(key), sizeof key));
  if (auto r =
          Run(c, "INSERT INTO secrets (name, value) VALUES ('digest', " + k + ") ON CONFLICT DO NOTHING", p);
      !r.Ok()) {
    if (error) *error = "cannot make the digest key: " + Why(c, r);
    return false;
  }
  auto r = Run(c, "SELECT value FROM secrets WHERE name = 'digest'");
  if (!r.Ok() || r.Rows() != 1) {
    if (error) *error = "cannot read the digest key: " + Why(c, r);
    return false;
  }
  secret_ = r.Bytes(0, 0);
  return true;
}

bool PgStore::Load(PGconn* c, std::string* error) {
  std::lock_guard lock(refreshMutex_);
  std::string why;
  Params none;
  if (!EachRow(
          c,
          "SELECT mem_type_key, channels_key, min(mem_type), min(channels), count(*), max(id) FROM results "
          "GROUP BY mem_type_key, channels_key",
          none,
          [&](const PgResult& r, int i) {
            aggregates_.AddResults(r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), r.Text(i, 3),
                                   static_cast<size_t>(r.Int(i, 4)));
            seenResult_ = std::max(seenResult_, r.Int(i, 5));
          },
          nullptr, &why)) {
    if (error) *error = "cannot count the stored results: " + why;
    return false;
  }
  if (!EachRow(
          c,
          "SELECT mem_type_key, channels_key, idhash, network, score, mem_clock_mhz, latency_ns, seq FROM "
          "votes",
          none,
          [&](const PgResult& r, int i) {
            Vote v;
            v.score = r.Real(i, 4);
            if (!r.IsNull(i, 5)) v.clock = static_cast<double>(r.Int(i, 5));
            if (!r.IsNull(i, 6)) v.latency = r.Real(i, 6);
            aggregates_.LoadVote(r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), r.Text(i, 3), v);
            seenVote_ = std::max(seenVote_, r.Int(i, 7));
          },
          nullptr, &why)) {
    if (error) *error = "cannot read the votes: " + why;
    return false;
  }
  aggregates_.Sort();
  return true;
}

void PgStore::Refresh(PGconn* c) {
  std::lock_guard lock(refreshMutex_);
  {
    Params p;
    const std::string seen = p.Add(seenResult_);
    EachRow(c,
            "SELECT mem_type_key, channels_key, min(mem_type), min(channels), count(*), max(id) FROM results "
            "WHERE id > " +
                seen + " GROUP BY mem_type_key, channels_key",
            p, [&](const PgResult& r, int i) {
              aggregates_.AddResults(r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), r.Text(i, 3),
                                     static_cast<size_t>(r.Int(i, 4)));
              seenResult_ = std::max(seenResult_, r.Int(i, 5));
            });
  }
  Params p;
  const std::string seen = p.Add(seenVote_);
  EachRow(
      c,
      "SELECT mem_type_key, channels_key, idhash, network, score, mem_clock_mhz, latency_ns, seq FROM votes "
      "WHERE seq > " +
          seen + " ORDER BY seq",
      p, [&](const PgResult& r, int i) {
        Vote v;
        v.score = r.Real(i, 4);
        if (!r.IsNull(i, 5)) v.clock = static_cast<double>(r.Int(i, 5));
        if (!r.IsNull(i, 6)) v.latency = r.Real(i, 6);
        aggregates_.SetVote(r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), r.Text(i, 3), v);
        seenVote_ = std::max(seenVote_, r.Int(i, 7));
      });
}

void PgStore::Refresher() {
  std::unique_lock lock(stopMutex_);
  while (!stopChanged_.wait_for(lock, kRefreshEvery, [this] { return stop_; })) {
    lock.unlock();
    {
      Lease c(*this);
      if (c.get() && PQstatus(c.get()) == CONNECTION_OK && c.Budget(kWriteTimeoutMs)) Refresh(c.get());
    }
    lock.lock();
  }
}

PgStore::~PgStore() {
  {
    std::lock_guard lock(stopMutex_);
    stop_ = true;
  }
  stopChanged_.notify_all();
  if (refresher_.joinable()) refresher_.join();
  for (Link& l : idle_) PQfinish(l.conn);
}

size_t PgStore::Count(const char* sql, std::vector<std::string> values) {
  Lease c(*this);
  if (!c.get()) return 0;
  Params p;
  for (const std::string& v : values) p.Add(v);
  auto r = Run(c.get(), sql, p);
  return r.Ok() && r.Rows() == 1 && !r.IsNull(0, 0) ? static_cast<size_t>(r.Real(0, 0)) : 0;
}

std::optional<bool> PgStore::TakeUpload(const std::string& network, unsigned burst, int64_t refillSeconds) {
  if (burst == 0) return true;
  Lease c(*this);
  if (!c.get() || !c.Budget(kWriteTimeoutMs)) return false;
  Params p;
  const std::string n = p.Add(network), b = p.Add(static_cast<int64_t>(burst)),
                    f = p.Add(std::max<int64_t>(refillSeconds, 1));
  // The database's clock, so servers whose clocks differ still count alike.
  const std::string now = "extract(epoch from clock_timestamp())";
  const std::string tokens = "least(" + b + "::float8, u.tokens + (" + now + " - u.at) / " + f + "::float8)";
  auto r = Run(c.get(),
               "INSERT INTO upload_buckets AS u (network, tokens, at, full_at) VALUES (" + n + ", " + b +
                   "::float8 - 1, " + now + ", " + now + " + " + f +
                   "::float8) ON CONFLICT (network) DO UPDATE SET tokens = " + tokens + " - 1, at = " + now +
                   ", full_at = " + now + " + (" + b + "::float8 - " + tokens + " + 1) * " + f +
                   "::float8 WHERE " + tokens + " >= 1 RETURNING 1",
               p);
  return r.Ok() && r.Rows() == 1;
}

std::optional<std::string> PgStore::PicturePath(std::string_view storedName) {
  if (!IsStoredPictureName(storedName)) return std::nullopt;
  if (Count("SELECT count(*) FROM pictures WHERE stored_name = $1", {std::string(storedName)}) == 0)
    return std::nullopt;
  return pictures_ + "/" + std::string(storedName);
}

size_t PgStore::SweepPictures(int64_t now, int64_t orphanSeconds, bool strays) {
  size_t swept = 0;
  Lease c(*this);
  if (!c.get() || !c.Budget(kWriteTimeoutMs)) return 0;
  {
    Params p;
    const std::string before = p.Add(now - orphanSeconds);
    auto r = Run(
        c.get(),
        "DELETE FROM pictures WHERE result_id IS NULL AND received_at < " + before + " RETURNING stored_name",
        p);
    if (r.Ok())
      for (int i = 0; i < r.Rows(); ++i) swept += platform::DeleteFile(pictures_ + "/" + r.Text(i, 0));
  }
  Run(c.get(), "DELETE FROM upload_buckets WHERE full_at < extract(epoch from clock_timestamp())");
  if (!strays) return swept;
  return swept + SweepStrayPictures(pictures_, [&](const std::string& name) {
           Params p;
           const std::string n = p.Add(name);
           auto r = Run(c.get(), "SELECT 1 FROM pictures WHERE stored_name = " + n, p);
           // When the database cannot say, the file stays.
           return !r.Ok() || r.Rows() > 0;
         });
}

bool PgStore::AddPicture(std::string_view png, const PngInfo& info, const std::string& linkName,
                         const Sender& sender, int64_t now, StoredPicture* out, std::string* error) {
  const std::string name = RandomPictureName();
  const std::string file = pictures_ + "/" + name;
  // The file is complete on disk before a row names it; a failed row removes it again.
  if (std::string why; !platform::ReplaceFileAtomically(file, std::string(png), &why)) {
    if (error) *error = Explain("cannot write the picture", why, pictures_);
    return false;
  }
  Lease c(*this);
  auto fail = [&](const char* what, const PgResult& r) {
    if (error) *error = Explain(what, c.get() ? Why(c.get(), r) : "no connection", folder_);
    if (c.get()) Run(c.get(), "ROLLBACK");
    platform::DeleteFile(file);
    return false;
  };
  if (!c.get() || !c.Budget(kWriteTimeoutMs)) return fail("cannot reach the database", PgResult());
  if (auto r = Run(c.get(), "BEGIN"); !r.Ok()) return fail("cannot start the picture's transaction", r);
  if (auto r = Run(c.get(), kWriterLock); !r.Ok()) return fail("cannot lock the database", r);
  int64_t id = 0;
  {
    Params p;
    const std::string sql =
        "INSERT INTO pictures (stored_name, link_name, link_client, received_at, bytes, width, height, "
        "network) "
        "VALUES (" +
        p.Add(name) + ", " + p.Add(linkName) + ", " + p.Add(sender.client) + ", " + p.Add(now) + ", " +
        p.Add(static_cast<int64_t>(png.size())) + ", " + p.Add(static_cast<int64_t>(info.width)) + ", " +
        p.Add(static_cast<int64_t>(info.height)) + ", " + p.Add(sender.network) + ") RETURNING id";
    auto r = Run(c.get(), sql, p);
    if (!r.Ok() || r.Rows() != 1) return fail("cannot store the picture", r);
    id = r.Int(0, 0);
  }
  // Normally the picture comes first; when its record was faster, link it now.
  std::optional<int64_t> resultId;
  {
    Params p;
    const std::string sql = "SELECT r.id FROM results r WHERE r.benimage = " + p.Add(linkName) +
                            " AND r.link_client = " + p.Add(sender.client) +
                            " AND r.received_at >= " + p.Add(now - kLinkWindowSeconds) +
                            " AND NOT EXISTS (SELECT 1 FROM pictures p WHERE p.result_id = r.id) "
                            "ORDER BY r.id DESC LIMIT 1";
    auto r = Run(c.get(), sql, p);
    if (!r.Ok()) return fail("cannot look for the picture's record", r);
    if (r.Rows() == 1) resultId = r.Int(0, 0);
  }
  if (resultId) {
    Params p;
    auto r =
        Run(c.get(), "UPDATE pictures SET result_id = " + p.Add(*resultId) + " WHERE id = " + p.Add(id), p);
    if (!r.Ok()) return fail("cannot link the picture", r);
  }
  auto r = Run(c.get(), "COMMIT");
  if (!r.Ok() || std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0)
    return fail("cannot commit the picture", r);
  if (out) *out = StoredPicture{id, name, resultId};
  return true;
}

bool PgStore::AddRecord(const UploadedRecord& record, std::string_view raw, const Sender& sender, int64_t now,
                        StoredRecord* out, std::string* error) {
  Lease c(*this);
  auto fail = [&](const char* what, const PgResult& r) {
    if (error) *error = Explain(what, c.get() ? Why(c.get(), r) : "no connection", folder_);
    if (c.get()) Run(c.get(), "ROLLBACK");
    return false;
  };
  if (!c.get() || !c.Budget(kWriteTimeoutMs)) return fail("cannot reach the database", PgResult());
  if (auto r = Run(c.get(), "BEGIN"); !r.Ok()) return fail("cannot start the record's transaction", r);
  if (auto r = Run(c.get(), kWriterLock); !r.Ok()) return fail("cannot lock the database", r);
  const auto& f = record.fields;
  const std::string typeKey = MatchKey(record.memory.type), channelsKey = MatchKey(record.memory.channels);
  auto clock = [&](Params& p) {
    return record.memory.clockMHz > 0 ? p.Add(static_cast<int64_t>(record.memory.clockMHz)) : p.AddNull();
  };
  StoredRecord stored;
  {
    Params p;
    std::string values;
    for (const std::string& v : {p.Add(now),
                                 p.Add(sender.client),
                                 p.Add(f[kDate]),
                                 p.Add(f[kTime]),
                                 p.Add(f[kOs]),
                                 p.Add(f[kCpu]),
                                 p.Add(f[kMemory]),
                                 p.Add(f[kTimings]),
                                 p.Add(f[kMainboard]),
                                 p.Add(f[kRam1]),
                                 p.Add(f[kRam2]),
                                 p.Add(f[kRam3]),
                                 p.Add(f[kRam4]),
                                 p.Add(static_cast<int64_t>(record.read)),
                                 p.Add(static_cast<int64_t>(record.write)),
                                 p.Add(static_cast<int64_t>(record.copy)),
                                 p.AddOptional(record.latencyNs),
                                 p.Add(record.score),
                                 p.Add(static_cast<int64_t>(record.cpuClockMHz)),
                                 p.Add(record.idHash),
                                 p.Add(f[kCountry]),
                                 p.Add(f[kBenImage]),
                                 p.Add(f[kVersion]),
                                 p.Add(static_cast<int64_t>(record.cpuCores)),
                                 p.Add(record.memory.type),
                                 p.Add(typeKey),
                                 p.Add(record.memory.channels),
                                 p.Add(channelsKey),
                                 clock(p),
                                 p.AddBytes(raw),
                                 p.Add(sender.network)})
      values += (values.empty() ? "" : ", ") + v;
    auto r =
        Run(c.get(),
            "INSERT INTO results (received_at, link_client, date, time, os, cpu, memory, timings, "
            "mainboard, ram1, ram2, ram3, ram4, read_mbs, write_mbs, copy_mbs, latency_ns, score, "
            "cpuclk_mhz, idhash, country, benimage, version, cpu_cores, mem_type, mem_type_key, channels, "
            "channels_key, mem_clock_mhz, record_file, network) VALUES (" +
                values + ") ON CONFLICT (idhash, date, time) DO NOTHING RETURNING id",
            p);
    if (!r.Ok()) return fail("cannot store the record", r);
    stored.duplicate = r.Rows() == 0;
    if (!stored.duplicate) stored.id = r.Int(0, 0);
  }
  if (stored.duplicate) {
    Params p;
    const std::string sql = "SELECT id FROM results WHERE idhash = " + p.Add(record.idHash) +
                            " AND date = " + p.Add(f[kDate]) + " AND time = " + p.Add(f[kTime]);
    auto r = Run(c.get(), sql, p);
    if (!r.Ok() || r.Rows() != 1) return fail("cannot find the stored record", r);
    stored.id = r.Int(0, 0);
  } else if (!typeKey.empty() && !channelsKey.empty()) {
    Params p;
    std::string values;
    for (const std::string& v :
         {p.Add(typeKey), p.Add(channelsKey), p.Add(record.idHash), p.Add(sender.network), p.Add(stored.id),
          p.Add(record.score), clock(p), p.AddOptional(record.latencyNs),
          p.Add(static_cast<int64_t>(record.read)), p.Add(static_cast<int64_t>(record.write)),
          p.Add(static_cast<int64_t>(record.copy))})
      values += (values.empty() ? "" : ", ") + v;
    auto r = Run(c.get(),
                 "INSERT INTO votes (mem_type_key, channels_key, idhash, network, result_id, score, "
                 "mem_clock_mhz, latency_ns, read_mbs, write_mbs, copy_mbs) VALUES (" +
                     values +
                     ") ON CONFLICT (mem_type_key, channels_key, idhash, network) DO UPDATE SET result_id = "
                     "excluded.result_id, score = excluded.score, mem_clock_mhz = excluded.mem_clock_mhz, "
                     "latency_ns = excluded.latency_ns, read_mbs = excluded.read_mbs, write_mbs = "
                     "excluded.write_mbs, copy_mbs = excluded.copy_mbs, seq = nextval('votes_seq')",
                 p);
    if (!r.Ok()) return fail("cannot count the result", r);
  }
  {
    Params p;
    auto r = Run(c.get(), "SELECT 1 FROM pictures WHERE result_id = " + p.Add(stored.id), p);
    if (!r.Ok()) return fail("cannot look for the record's picture", r);
    stored.pictureLinked = r.Rows() > 0;
  }
  if (!stored.pictureLinked) {
    Params p;
    const std::string link = p.Add(stored.id);
    const std::string sql = "UPDATE pictures SET result_id = " + link +
                            " WHERE id = (SELECT id FROM pictures WHERE result_id IS NULL AND link_name = " +
                            p.Add(f[kBenImage]) + " AND link_client = " + p.Add(sender.client) +
                            " AND received_at >= " + p.Add(now - kLinkWindowSeconds) +
                            " ORDER BY id DESC LIMIT 1) RETURNING id";
    auto r = Run(c.get(), sql, p);
    if (!r.Ok()) return fail("cannot link the picture", r);
    stored.pictureLinked = r.Rows() > 0;
  }
  auto r = Run(c.get(), "COMMIT");
  if (!r.Ok() || std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0) return fail("cannot commit the record", r);
  // This server's own answers show the upload at once; the others within their next refresh.
  if (!stored.duplicate) Refresh(c.get());
  if (out) *out = stored;
  return true;
}

std::vector<ResultRow> PgStore::Recent(const ResultFilter& filter, bool* cut) {
  std::vector<ResultRow> rows;
  if (cut) *cut = false;
  const bool ranked = filter.sort != SortKey::Newest;
  const std::string typeKey = MatchKey(filter.type), channelsKey = MatchKey(filter.channels);
  const std::string column = SortColumn(filter.sort);
  const std::string direction = filter.sort == SortKey::Latency ? "ASC" : "DESC";
  // No stored text holds a line break (the index joins the texts with one), so such a search finds nothing.
  if (filter.text.find('\n') != std::string::npos) return rows;
  // No time left: nothing is asked (a statement_timeout of 0 would mean none at all).
  if (filter.budget.count() <= 0) {
    if (cut) *cut = true;
    return rows;
  }
  Params p;
  std::string sql = std::string("SELECT ") + kRowColumns;
  bool reverse = false;
  if (ranked && filter.text.empty() && !typeKey.empty() && !channelsKey.empty())
    return Ranking(filter, column, cut);
  {
    const std::string kind = ranked ? "v" : "r";
    sql += ranked ? " FROM votes v JOIN results r ON r.id = v.result_id" : " FROM results r";
    sql += " LEFT JOIN pictures p ON p.result_id = r.id WHERE true";
    if (!typeKey.empty()) sql += " AND " + kind + ".mem_type_key = " + p.Add(typeKey);
    if (!channelsKey.empty()) sql += " AND " + kind + ".channels_key = " + p.Add(channelsKey);
    if (!filter.text.empty()) {
      std::string like = "%";
      for (char ch : filter.text) {
        if (ch == '%' || ch == '_' || ch == '\\') like += '\\';
        like += ch;
      }
      like += "%";
      sql +=
          " AND (r.cpu || E'\\n' || r.mainboard || E'\\n' || r.ram1 || E'\\n' || r.ram2 || E'\\n' || r.ram3 "
          "|| E'\\n' || r.ram4) ILIKE " +
          p.Add(like);
      size_t characters = 0;
      for (unsigned char ch : filter.text) characters += (ch & 0xc0) != 0x80;
      // Too short for the trigram index: rows are read one by one, so only the newest are searched.
      if (characters < 3) sql += " AND r.id > (SELECT max(id) FROM results) - " + p.Add(kSearchedResults);
    }
    switch (filter.sort) {
      case SortKey::Newest:
        if (filter.afterId) {
          sql += " AND r.id > " + p.Add(filter.afterId) + " ORDER BY r.id ASC";
          reverse = true;
        } else {
          if (filter.beforeId) sql += " AND r.id < " + p.Add(filter.beforeId);
          sql += " ORDER BY r.id DESC";
        }
        break;
      case SortKey::Latency:
        sql += " AND v.latency_ns IS NOT NULL ORDER BY v.latency_ns ASC, r.id DESC";
        break;
      default:
        sql += " ORDER BY v." + column + " DESC, r.id DESC";
        break;
    }
    sql += " LIMIT " + p.Add(static_cast<int64_t>(filter.limit)) + " OFFSET " +
           p.Add(static_cast<int64_t>(ranked ? filter.offset : 0));
  }
  Lease c(*this);
  if (!c.get() || !c.Budget(static_cast<long>(filter.budget.count()))) return rows;
  EachRow(
      c.get(), sql, p, [&](const PgResult& r, int i) { rows.push_back(ReadRow(r, i)); }, cut);
  if (reverse) std::reverse(rows.begin(), rows.end());
  for (ResultRow& row : rows) Fill(row);
  return rows;
}

std::vector<ResultRow> PgStore::Ranking(const ResultFilter& filter, const std::string& column, bool* cut) {
  std::vector<ResultRow> rows;
  const auto end = std::chrono::steady_clock::now() + filter.budget;
  Lease c(*this);
  if (!c.get() || !c.Budget(static_cast<long>(filter.budget.count()))) return rows;
  // A page of a ranking, walked in the index (which holds each vote's network) through a cursor,
  // so only the rows up to the page are read: a network shows its best kRankedPerNetwork machines.
  const std::string direction = filter.sort == SortKey::Latency ? "ASC" : "DESC";
  Params p;
  const std::string sql =
      "DECLARE walk NO SCROLL CURSOR FOR SELECT result_id, network FROM votes WHERE "
      "mem_type_key = " +
      p.Add(MatchKey(filter.type)) + " AND channels_key = " + p.Add(MatchKey(filter.channels)) +
      (filter.sort == SortKey::Latency ? " AND latency_ns IS NOT NULL" : "") + " ORDER BY " + column + " " +
      direction + ", result_id DESC";
  if (!Run(c.get(), "BEGIN").Ok()) return rows;
  if (!Run(c.get(), sql, p).Ok()) {
    Run(c.get(), "ROLLBACK");
    return rows;
  }
  std::unordered_map<std::string, size_t> shown;
  std::vector<int64_t> ids;
  size_t skipped = 0;
  bool done = false, interrupted = false;
  // Small batches: a page seldom needs many rows past its end (larger ones measured slower).
  constexpr size_t batch = 500;
  while (!done && ids.size() < filter.limit) {
    if (std::chrono::steady_clock::now() > end) {
      interrupted = true;
      break;
    }
    auto r = Run(c.get(), "FETCH " + std::to_string(batch) + " FROM walk");
    if (!r.Ok()) {
      interrupted = r.State() == "57014";
      break;
    }
    done = r.Rows() < static_cast<int>(batch);
    for (int i = 0; i < r.Rows() && ids.size() < filter.limit; ++i) {
      if (++shown[r.Text(i, 1)] > kRankedPerNetwork) continue;
      if (skipped < filter.offset) {
        ++skipped;
        continue;
      }
      ids.push_back(r.Int(i, 0));
    }
  }
  Run(c.get(), "ROLLBACK");
  if (cut) *cut = ids.size() < filter.limit && interrupted;
  if (ids.empty()) return rows;
  std::string list = "{";
  for (int64_t id : ids) list += (list.size() > 1 ? "," : "") + std::to_string(id);
  list += "}";
  Params q;
  auto r = Run(c.get(),
               std::string("SELECT ") + kRowColumns +
                   " FROM results r LEFT JOIN pictures p ON p.result_id = r.id WHERE r.id = ANY(" +
                   q.Add(list) + "::bigint[])",
               q);
  if (!r.Ok()) return rows;
  std::unordered_map<int64_t, ResultRow> byId;
  for (int i = 0; i < r.Rows(); ++i) {
    ResultRow row = ReadRow(r, i);
    byId.emplace(row.id, std::move(row));
  }
  for (int64_t id : ids)
    if (auto it = byId.find(id); it != byId.end()) rows.push_back(std::move(it->second));
  for (ResultRow& row : rows) Fill(row);
  return rows;
}

std::optional<ResultRow> PgStore::Result(int64_t id) {
  Lease c(*this);
  if (!c.get()) return std::nullopt;
  Params p;
  const std::string sql =
      std::string("SELECT ") + kRowColumns +
      ", r.record_file FROM results r LEFT JOIN pictures p ON p.result_id = r.id WHERE r.id = " + p.Add(id);
  auto r = Run(c.get(), sql, p);
  if (!r.Ok() || r.Rows() != 1) return std::nullopt;
  ResultRow row = ReadRow(r, 0);
  row.record = r.Bytes(0, 29);
  Fill(row);
  return row;
}

}  // namespace qvserver
