// Record parsing, picture checks, reference ranges and the store, without a socket (the HTTP tests cover
// the refusals a client meets most: non-numeric, out of range, 21 fields, oversized).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/limits.h"
#include "server/multipart.h"
#include "server/plausible.h"
#include "server/png_check.h"
#include "server/record.h"
#include "server/reference.h"
#include "server/store.h"
#include "server_fixtures.h"

using namespace qvserver;
using qvtest::ProgramValues;
using qvtest::RecordFile;

TEST(RecordFile, ProgramRecordParses) {
  std::string error;
  const auto r = ParseRecordFile(RecordFile(ProgramValues()), &error);
  ASSERT_TRUE(r) << error;
  EXPECT_EQ(r->read, 13847);
  EXPECT_EQ(r->write, 7955);
  EXPECT_EQ(r->copy, 9381);
  ASSERT_TRUE(r->latencyNs);
  EXPECT_DOUBLE_EQ(*r->latencyNs, 65.5);
  EXPECT_DOUBLE_EQ(r->score, 10.39);
  EXPECT_EQ(r->memory.type, "DDR4");
  EXPECT_EQ(r->memory.channels, "Dual");
  EXPECT_EQ(r->memory.clockMHz, 3201);
  EXPECT_EQ(r->benImage(), "081226210755_17.tmp");
}

TEST(RecordFile, LatencyZeroMeansTheTestDidNotRun) {
  for (const char* latency : {"0", "0.0"}) {
    auto v = ProgramValues();
    v[kLatency] = latency;
    const auto r = ParseRecordFile(RecordFile(v), nullptr);
    ASSERT_TRUE(r) << latency;
    EXPECT_FALSE(r->latencyNs);
  }
}

TEST(RecordFile, QuotesAndSemicolonsInsideValuesSurvive) {
  auto v = ProgramValues();
  v[kMainboard] = "Board \"X\"; rev;2";
  const auto r = ParseRecordFile(RecordFile(v), nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->field(kMainboard), "Board \"X\"; rev;2");
}

TEST(RecordFile, EveryMalformedShapeIsRefused) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  auto with = [](size_t field, const std::string& value) {
    auto v = ProgramValues();
    v[field] = value;
    return RecordFile(v);
  };
  std::string header = RecordFile(ProgramValues()).substr(0, RecordFile(ProgramValues()).find("\r\n") + 2);
  std::string twentyThree = header;
  auto v = ProgramValues();
  for (const auto& x : v) twentyThree += "\"" + x + "\";";
  twentyThree += "\"extra\";\r\n";
  std::string lf = RecordFile(v);
  for (size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.replace(p, 2, "\n");
  const Case cases[] = {
      {"empty", ""},
      {"23 fields", twentyThree},
      {"header only", header},
      {"two data lines", RecordFile(v) + RecordFile(v).substr(header.size())},
      {"LF line ends", lf},
      {"renamed header field",
       [&] {
         auto s = RecordFile(v);
         s.replace(s.find("READ"), 4, "RAED");
         return s;
       }()},
      {"READ zero", with(kRead, "0")},
      {"COPY negative", with(kCopy, "-9381")},
      {"LATENCY text", with(kLatency, "fast")},
      {"LATENCY too large", with(kLatency, "2000.1")},
      {"RESULT placeholder", with(kResult, "--.--")},
      {"RESULT off the bandwidths", with(kResult, "12.00")},
      {"DATE in another form", with(kDate, "08.12.2026")},
      {"DATE not in the calendar", with(kDate, "2026-02-30")},
      {"IDHASH short", with(kIdHash, "0123")},
      {"IDHASH not hex", with(kIdHash, "0123456789ABCDEF0123456789ABCDEG")},
      {"BENIMAGE with a folder", with(kBenImage, "..\\x.tmp")},
      {"control byte", with(kCpu, std::string("Intel\x01", 6))},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseRecordFile(c.bytes, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.what;
  }
}

TEST(RecordFile, MemoryPanelShapes) {
  auto m = ParseMemoryPanel("8 GB - DDR3 - 1601 MHz - 2 x 64-bit Channel");
  EXPECT_EQ(m.type, "DDR3");
  EXPECT_EQ(m.channels, "2 x 64-bit");
  EXPECT_EQ(m.clockMHz, 1601);
  m = ParseMemoryPanel("* - * - 0 MHz - * Channel");  // no facts gathered
  EXPECT_EQ(m.type, "");
  EXPECT_EQ(m.channels, "");
  EXPECT_EQ(m.clockMHz, 0);
  m = ParseMemoryPanel("* - *");  // never composed
  EXPECT_EQ(m.type, "");
  m = ParseMemoryPanel("32 GB - DDR5 - 6001 MHz - Dual Channel");
  EXPECT_EQ(m.type, "DDR5");
  EXPECT_EQ(m.clockMHz, 6001);
}

TEST(RecordFile, EightBitTextsBecomeUtf8) {
  EXPECT_EQ(ToUtf8("Quorvex\xC2\xB2"), "Quorvex\xC2\xB2");            // already UTF-8
  EXPECT_EQ(ToUtf8("Quorvex\xB2"), "Quorvex\xC2\xB2");                // Windows-1252 superscript two
  EXPECT_EQ(ToUtf8("\x80 5"), "\xE2\x82\xAC 5");                      // euro sign
  EXPECT_EQ(ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate is not UTF-8
  EXPECT_EQ(MatchKey("  dual \t channel "), "DUAL CHANNEL");
}

TEST(Picture, WholePngFilesOnly) {
  PngInfo info;
  std::string error;
  const std::string png = qvtest::MakePng(640, 480);
  ASSERT_TRUE(CheckPng(png, &info, &error)) << error;
  EXPECT_EQ(info.width, 640u);
  EXPECT_EQ(info.height, 480u);

  std::string badCrc = png;
  badCrc[png.size() - 13] ^= 1;  // inside IDAT
  const std::string refused[] = {"",
                                 "GIF89a",
                                 png.substr(0, png.size() - 1),
                                 png + "tail",
                                 badCrc,
                                 std::string("\x89PNG\r\n\x1a\n", 8) + qvtest::Chunk("IEND", ""),
                                 qvtest::MakePng(0, 10),
                                 qvtest::MakePng(20000, 10)};
  for (const auto& bytes : refused) EXPECT_FALSE(CheckPng(bytes, &info, &error)) << bytes.size();
  EXPECT_FALSE(CheckPng(qvtest::MakePng(8, 8, kMaxPictureBytes), &info, &error));
}

TEST(Reference, ChannelsAndFamilies) {
  EXPECT_EQ(ChannelCount("Dual"), 2);
  EXPECT_EQ(ChannelCount(" single "), 1);
  EXPECT_EQ(ChannelCount("Quad"), 4);
  EXPECT_EQ(ChannelCount("3"), 3);
  EXPECT_EQ(ChannelCount("2 x 64-bit"), 2);
  EXPECT_EQ(ChannelCount("4 x 32-bit"), 2);
  EXPECT_EQ(ChannelCount("2 x 32-bit"), 1);
  EXPECT_FALSE(ChannelCount("many"));
  EXPECT_FALSE(ChannelCount("0"));
  EXPECT_EQ(MemoryFamily("DDR4 "), "DDR4");
  EXPECT_EQ(MemoryFamily("lpddr5x"), "DDR5");
  EXPECT_EQ(MemoryFamily("SDRAM"), "");
}

TEST(Reference, ShippedTableRows) {
  EXPECT_EQ(CompareAnswer(ShippedRanges("DDR4", "Dual")), "11<BR />32<BR />2133<BR />3600<BR />55<BR />95");
  EXPECT_EQ(ShippedRanges("DDR3", "Triple").score, (Range{6, 21}));
  EXPECT_EQ(ShippedRanges("DDR5", "4 x 32-bit").score, (Range{20, 48}));  // two DIMM channels
  // A count the table lacks takes the nearest smaller row, or the smallest row.
  EXPECT_EQ(ShippedRanges("DDR2", "Triple").score, ShippedRanges("DDR2", "Dual").score);
  EXPECT_EQ(ShippedRanges("DDR4", "Twelve").score, ShippedRanges("DDR4", "8").score);
  // Unknown channels are taken as two; an unknown type gets the one wide scale.
  EXPECT_EQ(ShippedRanges("DDR4", "").score, (Range{11, 32}));
  EXPECT_EQ(ShippedRanges("SDRAM", "Dual").clock, (Range{400, 7200}));
  // Every row is a usable dial.
  for (const char* t : {"DDR2", "DDR3", "DDR4", "DDR5"})
    for (const char* c : {"1", "2", "3", "4", "6", "8"}) {
      const auto r = ShippedRanges(t, c);
      EXPECT_LT(r.score.low, r.score.high);
      EXPECT_LT(r.clock.low, r.clock.high);
      EXPECT_LT(r.latency.low, r.latency.high);
    }
}

TEST(Reference, PercentilesRoundOutward) {
  std::vector<double> v;
  for (int i = 1; i <= 21; ++i) v.push_back(i);  // 1..21: p5 = 2, p95 = 20 exactly
  EXPECT_DOUBLE_EQ(Percentile(v, 0.05), 2.0);
  EXPECT_DOUBLE_EQ(Percentile(v, 0.95), 20.0);
  EXPECT_EQ(OutwardRange(v), (Range{2, 20}));
  std::vector<double> scores;
  for (int i = 0; i < 20; ++i) scores.push_back(10.0 + i * 0.5);  // 10 .. 19.5
  // p5 = 10 + 0.95 * 0.5 = 10.475 -> 10; p95 = 10 + 18.05 * 0.5 = 19.025 -> 20
  EXPECT_EQ(OutwardRange(scores), (Range{10, 20}));
  EXPECT_EQ(OutwardRange(std::vector<double>(30, 3201.0)), (Range{3201, 3202}));
}

TEST(Reference, PercentilesOnlyFromTwentyResults) {
  MatchedValues m;
  for (int i = 0; i < 19; ++i) {
    m.scores.push_back(40 + i);
    m.clocks.push_back(6000 + i);
  }
  auto r = RangesFor("DDR5", "Dual", m);
  EXPECT_EQ(r.score, ShippedRanges("DDR5", "Dual").score);
  EXPECT_EQ(r.scoreSamples, 0u);
  m.scores.push_back(59);
  m.clocks.push_back(6019);
  r = RangesFor("DDR5", "Dual", m);
  EXPECT_EQ(r.scoreSamples, 20u);
  EXPECT_EQ(r.score, (Range{40, 59}));
  EXPECT_EQ(r.clock, (Range{6000, 6019}));
  EXPECT_EQ(r.latency, ShippedRanges("DDR5", "Dual").latency);  // no latencies stored
}

namespace {

class StoreTest : public qvtest::EachStore {
 protected:
  void SetUp() override { UseStore(); }
  std::unique_ptr<Store> Open(const std::string& dir, std::string* error) {
    return Postgres() ? Store::OpenPostgres(qvtest::StoreUnderTest(), dir, error) : Store::Open(dir, error);
  }
};

}  // namespace

TEST_P(StoreTest, StartUpDropsOnlyWhatNoResultNeeds) {
  namespace fs = std::filesystem;
  const std::string dir = qvtest::FreshFolder("sweep");
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const std::string png = qvtest::MakePng();
  StoredPicture linked, orphan, recent;
  {
    std::string error;
    auto store = Open(dir, &error);
    ASSERT_TRUE(store) << error;
    const auto record = ParseRecordFile(RecordFile(ProgramValues()), &error);
    ASSERT_TRUE(record) << error;
    const int64_t old = now - kOrphanPictureSeconds - 60;
    ASSERT_TRUE(store->AddPicture(png, {8, 6}, record->benImage(), Sender{"c", "n"}, old, &linked, &error))
        << error;
    ASSERT_TRUE(
        store->AddRecord(*record, RecordFile(ProgramValues()), Sender{"c", "n"}, old, nullptr, &error))
        << error;
    ASSERT_TRUE(store->AddPicture(png, {8, 6}, "never.tmp", Sender{"c", "n"}, old, &orphan, &error)) << error;
    ASSERT_TRUE(store->AddPicture(png, {8, 6}, "soon.tmp", Sender{"c", "n"}, now, &recent, &error)) << error;
  }
  // A stray left by a crash long ago, and one that may be another server's upload under way.
  const std::string oldStray = dir + "/pictures/x.png.new-1", newStray = dir + "/pictures/y.png.new-2";
  std::ofstream(oldStray) << "x";
  std::ofstream(newStray) << "y";
  fs::last_write_time(oldStray, fs::file_time_type::clock::now() - std::chrono::hours(3));

  std::string error;
  auto store = Open(dir, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->PictureCount(), 2u);
  EXPECT_TRUE(store->PicturePath(linked.storedName));
  EXPECT_TRUE(fs::exists(dir + "/pictures/" + linked.storedName));
  EXPECT_FALSE(store->PicturePath(orphan.storedName));
  EXPECT_FALSE(fs::exists(dir + "/pictures/" + orphan.storedName));
  EXPECT_TRUE(store->PicturePath(recent.storedName));
  EXPECT_FALSE(fs::exists(oldStray));
  EXPECT_TRUE(fs::exists(newStray));
  store.reset();
  fs::remove_all(dir);
}

TEST(Store, AStoreOfAnEarlierSchemaLoadsWithEveryResultAndVote) {
  const std::string dir = qvtest::FreshFolder("schema2");
  {
    std::ifstream in(QUORVEX_SCHEMA2_STORE);
    const std::string dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(dump.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/results.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, dump.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  for (int opening = 0; opening < 2; ++opening) {  // migrated, then as it is
    std::string error;
    auto store = Store::Open(dir, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->SchemaVersionInFile(), kSchemaVersion);
    EXPECT_EQ(store->ResultCount(), 22u);
    // Each earlier vote stands for a network of its own: the ranges are what they were.
    const CompareRanges r = store->Ranges("DDR4", "Dual");
    EXPECT_EQ(r.score, (Range{21, 30}));
    EXPECT_EQ(r.clock, (Range{2500, 3350}));
    EXPECT_EQ(r.latency, (Range{62, 79}));
    ASSERT_TRUE(store->KindOf("DDR4", "Dual"));
    EXPECT_EQ(store->KindOf("DDR4", "Dual")->networks, 21u);
    ResultFilter search;
    search.text = "i7-8700";
    EXPECT_EQ(store->Recent(search).size(), 22u);  // the index holds the earlier results too
    const auto row = store->Result(1);
    ASSERT_TRUE(row);
    EXPECT_TRUE(store->RankOf(*row));
  }
  std::filesystem::remove_all(dir);
}

namespace {

UploadedRecord Parsed(const qvtest::Values& v) {
  std::string why;
  auto r = ParseRecordFile(RecordFile(v), &why);
  EXPECT_TRUE(r) << why;
  return r ? *r : UploadedRecord{};
}

qvtest::Values WithBandwidth(const std::string& memory, long long read) {
  auto v = ProgramValues();
  v[kMemory] = memory;
  v[kRead] = std::to_string(read);
  v[kWrite] = v[kCopy] = "5000";
  char score[32];
  std::snprintf(score, sizeof score, "%.2f", static_cast<double>(read + 10000) / 3000.0);
  v[kResult] = score;
  return v;
}

}  // namespace

TEST(Plausibility, BandwidthUpToTwiceThePeakOfClockAndChannels) {
  std::string why;
  // DDR4 at 3200 MT/s on two channels: peak 51200 MByte/s, so up to 102400 passes.
  EXPECT_TRUE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR4 - 3200 MHz - Dual Channel", 102400)), &why))
      << why;
  EXPECT_FALSE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR4 - 3200 MHz - Dual Channel", 102401)), &why));
  EXPECT_NE(why.find("READ 102401 MByte/s is above twice the peak of DDR4 at 3200 MHz on 2 channels"),
            std::string::npos)
      << why;
  // One channel halves it; an unreadable channel text gets the most channels there are.
  EXPECT_FALSE(
      CheckPlausible(Parsed(WithBandwidth("16 GB - DDR4 - 3200 MHz - Single Channel", 60000)), &why));
  EXPECT_TRUE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR4 - 3200 MHz - * Channel", 60000)), &why))
      << why;
  // Clocks outside the type's range, and latencies outside physics.
  EXPECT_FALSE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR4 - 9000 MHz - Dual Channel", 20000)), &why));
  EXPECT_FALSE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR5 - 1333 MHz - Dual Channel", 20000)), &why));
  EXPECT_TRUE(CheckPlausible(Parsed(WithBandwidth("16 GB - DDR5 - 6000 MHz - Dual Channel", 20000)), &why))
      << why;
  auto slow = WithBandwidth("16 GB - DDR4 - 3200 MHz - Dual Channel", 20000);
  slow[kLatency] = "650.0";
  EXPECT_FALSE(CheckPlausible(Parsed(slow), &why));
  slow[kLatency] = "0";  // not measured
  EXPECT_TRUE(CheckPlausible(Parsed(slow), &why)) << why;
  EXPECT_EQ(ClockRangeFor("LPDDR5X").high, ClockRangeFor("DDR5").high);
}

TEST(Limits, UploadBucketsRefillAndForget) {
  using Clock = UploadLimiter::Clock;
  UploadLimiter limiter(3, std::chrono::seconds(60), 2);
  const auto t0 = Clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.Take("a", t0));
  EXPECT_FALSE(limiter.Take("a", t0 + std::chrono::seconds(59)));
  EXPECT_TRUE(limiter.Take("a", t0 + std::chrono::seconds(61)));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.Take("b", t0));
  // The table is full (two addresses, neither refilled): a third address waits.
  EXPECT_FALSE(limiter.Take("c", t0 + std::chrono::seconds(62)));
  // Once their buckets are full again they are forgotten and room comes back.
  EXPECT_TRUE(limiter.Take("c", t0 + std::chrono::hours(1)));
  EXPECT_LE(limiter.Tracked(), 2u);
  EXPECT_TRUE(UploadLimiter(0, std::chrono::seconds(1)).Take("x"));  // burst 0: no limit

  EXPECT_EQ(NetworkKey("192.0.2.7"), "192.0.2.0/24");
  EXPECT_EQ(NetworkKey("192.0.2.7"), NetworkKey("192.0.2.250"));
  EXPECT_NE(NetworkKey("192.0.2.7"), NetworkKey("192.0.3.7"));
  EXPECT_EQ(NetworkKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
  EXPECT_EQ(NetworkKey("2001:db8:1:2:ffff::1"), NetworkKey("2001:db8:1:2::9"));
}

TEST(Multipart, TheProgramsFormAndItsOddities) {
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=--------120826210755123"),
            "--------120826210755123");
  EXPECT_EQ(MultipartBoundary("Multipart/Form-Data; charset=x; boundary=\"a b\""), "a b");
  EXPECT_EQ(MultipartBoundary("multipart/form-data"), "");
  EXPECT_EQ(MultipartBoundary("multipart/mixed; boundary=x"), "");
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=" + std::string(71, 'x')), "");

  std::string why;
  // A folder may hold ';' and '=': the quoted file name keeps them.
  const std::string body = qvtest::ProgramBody("b", "C:\\a;b=c\\x.tmp", "data");
  const auto part = SinglePart(body, "b", &why);
  ASSERT_TRUE(part) << why;
  EXPECT_EQ(part->name, "file");
  EXPECT_EQ(part->filename, "C:\\a;b=c\\x.tmp");
  EXPECT_EQ(part->content, "data");
  // The content may hold the boundary text as long as no delimiter line starts with it.
  // The part views into the body, so the body must outlive it.
  const std::string trickyBody = qvtest::ProgramBody("b", "x", "--b is not a line start");
  const auto tricky = SinglePart(trickyBody, "b", &why);
  ASSERT_TRUE(tricky) << why;
  EXPECT_EQ(tricky->content, "--b is not a line start");
  EXPECT_FALSE(SinglePart("--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nno end", "b", &why));
  EXPECT_FALSE(SinglePart("", "b", &why));
}

TEST_P(StoreTest, ARankingWalksPastOneNetworksCrowd) {
  const std::string dir = qvtest::FreshFolder("crowd");
  std::string error;
  auto store = Open(dir, &error);
  ASSERT_TRUE(store) << error;
  // Two hundred machines of one network above five of their own: the page must reach past them all.
  auto add = [&](int n, long long bw, const std::string& network) {
    auto v = ProgramValues();
    char hash[33];
    std::snprintf(hash, sizeof hash, "%032X", n + 1);
    v[kIdHash] = hash;
    v[kRead] = v[kWrite] = v[kCopy] = std::to_string(bw);
    v[kResult] = std::to_string(bw / 1000.0);
    const UploadedRecord r = Parsed(v);
    ASSERT_TRUE(store->AddRecord(r, RecordFile(v), Sender{"c", network}, 1000 + n, nullptr, &error)) << error;
  };
  for (int i = 0; i < 200; ++i) add(i, 40000 + i, "crowd");
  for (int i = 0; i < 5; ++i) add(1000 + i, 20000 + i, "own " + std::to_string(i));
  ResultFilter f;
  f.type = "DDR4";
  f.channels = "Dual";
  f.sort = SortKey::Score;
  f.limit = 5;
  std::vector<long long> reads;
  for (const ResultRow& row : store->Recent(f)) reads.push_back(row.read);
  EXPECT_EQ(reads, (std::vector<long long>{40199, 40198, 40197, 20004, 20003}));
  f.offset = 4;
  reads.clear();
  for (const ResultRow& row : store->Recent(f)) reads.push_back(row.read);
  EXPECT_EQ(reads, (std::vector<long long>{20003, 20002, 20001, 20000}));
  store.reset();
  std::filesystem::remove_all(dir);
}

QV_ON_EACH_STORE(StoreTest);
