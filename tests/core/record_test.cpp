#include "core/record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "decimal_comma_locale.h"

namespace fs = std::filesystem;
using namespace core;

namespace {

class RecordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("quorvex-record-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder_);
  }
  std::string Path(const std::string& name = kLogFileName) const { return (folder_ / name).string(); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static RecordInputs Inputs() {
    RecordInputs in;
    in.panels.osp = "Debian 12";
    in.panels.cpup = "AMD Ryzen 7 5800X 8-Core ";
    in.panels.cpucores = "16";
    in.panels.cpuclockp = "4389 MHz";
    in.panels.ramp = "32 GB - DDR4 - 3601 MHz - Dual Channel";
    in.panels.ramtimip = "16-18-18-38-630-1T (TRCD-TRP-TRAS-TRFC-CR)";
    in.panels.modules = {"G.Skill - F4", "G.Skill - F4", "* - *", "* - *"};
    in.panels.mainbp = "Acme - X100 - 1.0";
    in.readCaption = "READ  13847  MByte/s";
    in.writeCaption = "WRITE  7955  MByte/s";
    in.copyCaption = "COPY  9381  MByte/s";
    in.latencyCaption = "LATENCY  65.5  ns";
    in.scoreCaption = "10.39 ";
    in.idHash = "8101BA010DE926AE5F268FE2A318AE13";
    in.version = "3.0.24.109";
    in.date = "2010-03-14";
    in.time = "21:07:55";
    return in;
  }
  static std::string Country() { return "DE"; }

  fs::path folder_;
};

const char kHeader[] =
    "\"DATE\";\"TIME\";\"OS\";\"CPU\";\"Memory\";\"Timings (TRCD-TRP-TRAS-CR)\";\"Mainboard\";\"Ram#1\";"
    "\"Ram#2\";\"Ram#3\";\"Ram#4\";\"READ\";\"WRITE\";\"COPY\";\"LATENCY\";\"RESULT\";\"CPUCLK\";\"IDHASH\";"
    "\"COUNTRY\";\"BENIMAGE\";\"VERSION\";\"CPUCORE\";\r\n";
const char kData[] =
    "\"2010-03-14\";\"21:07:55\";\"Debian 12\";\"AMD Ryzen 7 5800X 8-Core \";"
    "\"32 GB - DDR4 - 3601 MHz - Dual Channel\";\"16-18-18-38-630-1T \";\"Acme - X100 - 1.0\";"
    "\"G.Skill - F4\";\"G.Skill - F4\";\"* - *\";\"* - *\";\"13847\";\"7955\";\"9381\";\"65.5\";\"10.39\";"
    "\"4389\";\"8101BA010DE926AE5F268FE2A318AE13\";\"DE\";\"Quorvex2_LOG.csv\";\"3.0.24.109\";\"16\";\r\n";

}  // namespace

TEST_F(RecordFile, FirstRecordWritesHeaderThenOneLinePerRecord) {
  std::string error;
  ASSERT_TRUE(WriteResultRecord(Path(), Inputs(), Country, &error)) << error;
  EXPECT_EQ(Read(Path()), std::string(kHeader) + kData);
  ASSERT_TRUE(WriteResultRecord(Path(), Inputs(), Country, &error)) << error;
  EXPECT_EQ(Read(Path()), std::string(kHeader) + kData + kData);
  // Only the log remains in the folder: no sibling left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(RecordFile, EmptyFileGetsTheHeaderAndOtherLineEndsBecomeCrLf) {
  Write(Path(), "");
  ASSERT_TRUE(WriteResultRecord(Path(), Inputs(), Country, nullptr));
  EXPECT_EQ(Read(Path()), std::string(kHeader) + kData);

  Write(Path("other.csv"), "old 1\nold 2\rold 3");
  ASSERT_TRUE(WriteResultRecord(Path("other.csv"), Inputs(), Country, nullptr));
  const std::string text = Read(Path("other.csv"));
  EXPECT_EQ(text.substr(0, 21), "old 1\r\nold 2\r\nold 3\r\n");
  EXPECT_NE(text.find("\"other.csv\""), std::string::npos);  // BENIMAGE is the file's own name
}

TEST_F(RecordFile, ValuesAreWrittenAsTheyAre) {
  RecordInputs in = Inputs();
  in.panels.osp = "a;b\"c";
  in.scoreCaption = "--.--";
  in.latencyCaption = "LATENCY";
  ASSERT_TRUE(WriteResultRecord(
      Path(), in, [] { return std::string("D\r\nE"); }, nullptr));
  const std::string text = Read(Path());
  EXPECT_NE(text.find(";\"a;b\"c\";"), std::string::npos);
  EXPECT_NE(text.find(";\"0\";\"--.--\";"), std::string::npos);
  // A line break from the country service would split the record; it becomes blanks.
  EXPECT_NE(text.find(";\"D  E\";"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(RecordFile, LogSurvivesFailures) {
  const std::string old = std::string(kHeader) + kData;
  Write(Path(), old);
  std::string error;

  // The write itself fails part-way.
  const RecordFileWriter failing = [](const std::string& path, const std::string& bytes, std::string* e) {
    std::ofstream(path + ".partial", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    *e = "disk full";
    return false;
  };
  EXPECT_FALSE(WriteResultRecord(Path(), Inputs(), Country, &error, failing));
  EXPECT_NE(error.find("disk full"), std::string::npos);
  EXPECT_EQ(Read(Path()), old);

  // The country lookup fails: nothing is written.
  error.clear();
  EXPECT_FALSE(WriteResultRecord(
      Path(), Inputs(), []() -> std::string { throw std::runtime_error("offline"); }, &error));
  EXPECT_NE(error.find("offline"), std::string::npos);
  EXPECT_EQ(Read(Path()), old);

  // The log cannot be read (here: a folder stands where the file should be).
  fs::create_directories(Path("dir.csv"));
  EXPECT_FALSE(WriteResultRecord(Path("dir.csv"), Inputs(), Country, &error));
  EXPECT_TRUE(fs::is_directory(Path("dir.csv")));
}

TEST_F(RecordFile, LogSurvivesAReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const std::string old = std::string(kHeader) + kData;
  Write(Path(), old);
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  EXPECT_FALSE(WriteResultRecord(Path(), Inputs(), Country, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Read(Path()), old);
}

TEST_F(RecordFile, NumbersUseAPointUnderDecimalCommaLocale) {
  DecimalCommaLocale locale;
  if (!locale.Active()) GTEST_SKIP() << "no decimal-comma locale could be made (localedef, locales package)";
  RecordInputs in = Inputs();
  in.latencyCaption = "LATENCY  65,5  ns";  // even a caption with a comma is logged with "."
  ASSERT_TRUE(WriteResultRecord(Path(), in, Country, nullptr));
  const std::string text = Read(Path());
  EXPECT_NE(text.find(";\"65.5\";\"10.39\";"), std::string::npos);
}

TEST_F(RecordFile, TheLastLoggedRecordReadsBackByItsFieldNames) {
  Write(Path(), std::string(kHeader) + kData + kData);
  ResultRecord record;
  std::string error;
  ASSERT_TRUE(ReadLastRecord(Path(), &record, &error)) << error;
  EXPECT_EQ(record[RecordField::Result], "10.39");
  EXPECT_EQ(record[RecordField::Latency], "65.5");
  EXPECT_EQ(record[RecordField::CpuCore], "16");
  EXPECT_EQ(RecordDataLine(record) + "\r\n", kData);
  Write(Path(), kHeader);
  EXPECT_FALSE(ReadLastRecord(Path(), &record, &error));
  Write(Path(), std::string(kHeader) + "\"2010-03-14\";\"a;b\";\r\n");
  EXPECT_FALSE(ReadLastRecord(Path(), &record, &error));
  EXPECT_NE(error.find("not a result record"), std::string::npos);
}

TEST(LogPlace, AnInstalledProgramLogsInTheUsersDataFolder) {
  EXPECT_TRUE(LogBesideProgram("/home/u/quorvex/build/release/gui", true));
  EXPECT_FALSE(LogBesideProgram("/home/u/quorvex/build/release/gui", false));  // someone else's folder
  EXPECT_FALSE(LogBesideProgram("/usr/bin", true));                            // installed, run as root
  EXPECT_FALSE(LogBesideProgram("/usr/local/bin", true));
  EXPECT_TRUE(LogBesideProgram("/usrdata/quorvex", true));
  EXPECT_FALSE(LogBesideProgram("", true));
}
