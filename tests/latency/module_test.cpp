// The module as the program uses it: loaded from a file, called, unloaded; and its driver.
#include <gtest/gtest.h>
#include <sched.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "latency/memlat.h"
#include "platform/dynlib.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

// Small enough to keep every test quick, large enough for a real figure.
constexpr int32_t kQuickLoads = 300000;

class Module {
 public:
  explicit Module(const std::string& path = MEMLAT_MODULE_PATH) : module_(path, &error_) {
    entry_ = reinterpret_cast<MemLatencyEntry>(module_.Symbol(MEMLAT_ENTRY_NAME));
  }
  bool ok() const { return entry_ != nullptr; }
  const std::string& error() const { return error_; }
  MemLatencyEntry entry() const { return entry_; }
  const char* operator()(int32_t rounds, int32_t kbytes, int32_t loads) const {
    return entry_(rounds, kbytes, loads);
  }
  void Unload() {
    entry_ = nullptr;
    module_.Unload();
  }

 private:
  std::string error_;
  platform::DynamicModule module_;
  MemLatencyEntry entry_ = nullptr;
};

bool IsFigure(const std::string& text) {
  static const std::regex figure("^[0-9]+\\.[0-9]{4} ns$");
  return std::regex_match(text, figure);
}

double Figure(const char* text) { return std::strtod(text, nullptr); }

// A locale whose decimal separator is a comma: an installed one, or one made for this test.
bool UseDecimalCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"})
    if (setlocale(LC_ALL, name)) return true;
  const std::string& folder = platform::PrivateFolder();
  if (folder.empty()) return false;
  const platform::ProcessOutcome made = platform::RunProgram(
      "/usr/bin/localedef", {"-i", "de_DE", "-f", "UTF-8", folder + "/de_DE.UTF-8"}, 120000);
  if (!made.started || made.exitCode != 0) return false;
  setenv("LOCPATH", folder.c_str(), 1);
  return setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(MemLatencyText, MeanWithFourDecimalsAndUnit) {
  Module memlat;
  ASSERT_TRUE(memlat.ok()) << memlat.error();
  const std::string text = memlat(2, 64, kQuickLoads);
  EXPECT_TRUE(IsFigure(text)) << text;
  EXPECT_GT(Figure(text.c_str()), 0.1);
  EXPECT_LT(Figure(text.c_str()), 100.0) << "64 KBytes should be served by a cache";
}

TEST(MemLatencyText, PointStaysUnderADecimalCommaLocale) {
  Module memlat;
  ASSERT_TRUE(memlat.ok()) << memlat.error();
  if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be had here";
  char probe[16];
  snprintf(probe, sizeof probe, "%.1f", 0.5);
  const std::string separator = probe;
  const std::string text = memlat(1, 32, kQuickLoads);
  setlocale(LC_ALL, "C");
  ASSERT_EQ(separator, "0,5") << "the locale in force does not use a comma";
  EXPECT_TRUE(IsFigure(text)) << text;
}

TEST(MemLatencyErrors, EveryRefusalIsAnErrorText) {
  Module memlat;
  ASSERT_TRUE(memlat.ok()) << memlat.error();
  struct Case {
    int32_t rounds, kbytes, loads;
    const char* says;
  } cases[] = {
      {0, 64, 1000, "rounds"},
      {-3, 64, 1000, "rounds"},
      {101, 64, 1000, "rounds"},
      {4, 0, 1000, "size"},
      {4, -64, 1000, "size"},
      {4, INT32_MIN, 1000, "size"},
      {4, 64, 0, "loads"},
      {4, 64, -22000000, "loads"},
      {4, INT32_MAX, 1000, "memory"},  // 2 TiB: more than any machine here has
  };
  for (const Case& c : cases) {
    const std::string text = memlat(c.rounds, c.kbytes, c.loads);
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind("Error: ", 0), 0u);
    EXPECT_NE(text.find("rro"), std::string::npos);
    EXPECT_NE(text.find(c.says), std::string::npos);
  }
  // A refusal leaves the module fit for the next call.
  EXPECT_TRUE(IsFigure(memlat(1, 16, kQuickLoads)));
}

TEST(MemLatencyCalls, TextStaysPutAndCallerIsLeftAsItWas) {
  Module memlat;
  ASSERT_TRUE(memlat.ok()) << memlat.error();
  cpu_set_t before, after;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  const char* first = memlat(1, 16, kQuickLoads);
  const std::string firstText = first;
  const char* second = memlat(1, 16, kQuickLoads);
  EXPECT_EQ(first, second);
  EXPECT_TRUE(IsFigure(firstText)) << firstText;
  EXPECT_TRUE(IsFigure(second)) << second;
  ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
  EXPECT_TRUE(CPU_EQUAL(&before, &after)) << "the call kept the thread pinned";
}

TEST(MemLatencyCalls, SmallBufferIsFasterThanLargeOne) {
  Module memlat;
  ASSERT_TRUE(memlat.ok()) << memlat.error();
  const std::string small = memlat(3, 16, kQuickLoads);
  const std::string large = memlat(3, 64 * 1024, kQuickLoads);
  ASSERT_TRUE(IsFigure(small)) << small;
  ASSERT_TRUE(IsFigure(large)) << large;
  EXPECT_LT(Figure(small.c_str()) * 2, Figure(large.c_str())) << small << " vs " << large;
}

// Two copies loaded at once are two independent instances, and unloading really removes them.
TEST(MemLatencyLoading, TwoCopiesInOneProcessThenBothGone) {
  std::string image;
  ASSERT_TRUE(platform::ReadWholeFile(MEMLAT_MODULE_PATH, &image));
  const std::string& folder = platform::PrivateFolder();
  ASSERT_FALSE(folder.empty());
  const std::string paths[2] = {folder + "/memlat_copy_a.so", folder + "/memlat_copy_b.so"};
  std::string error;
  for (const std::string& path : paths) {
    platform::DeleteFile(path);
    ASSERT_TRUE(platform::WriteFileExclusive(path, image.data(), image.size(), &error)) << error;
  }
  {
    Module a(paths[0]), b(paths[1]);
    ASSERT_TRUE(a.ok()) << a.error();
    ASSERT_TRUE(b.ok()) << b.error();
    EXPECT_NE(reinterpret_cast<void*>(a.entry()), reinterpret_cast<void*>(b.entry()));
    const char* fromA = a(1, 16, kQuickLoads);
    const char* fromB = b(1, 32, kQuickLoads);
    EXPECT_NE(fromA, fromB) << "the copies share their text";
    EXPECT_TRUE(IsFigure(fromA)) << fromA;
    EXPECT_TRUE(IsFigure(fromB)) << fromB;
    a.Unload();
    EXPECT_TRUE(IsFigure(fromB)) << "unloading one copy disturbed the other";
  }
  std::string maps;
  ASSERT_TRUE(platform::ReadWholeFile("/proc/self/maps", &maps));
  for (const std::string& path : paths) {
    EXPECT_EQ(maps.find(path), std::string::npos) << path << " is still mapped after unloading";
    platform::DeleteFile(path);
  }
}

// The driver's exit codes, and the module on ordinary pages when huge pages are refused.
TEST(MemlatDriver, ExitCodesAndOrdinaryPages) {
  auto run = [](const std::vector<std::string>& args) {
    return platform::RunProgram(MEMLAT_DRIVER_PATH, args, 60000);
  };
  EXPECT_EQ(run({"64", "300000", "1"}).exitCode, 0u);
  EXPECT_EQ(run({"0"}).exitCode, 1u);
  EXPECT_EQ(run({"64", "300000", "0"}).exitCode, 1u);
  EXPECT_EQ(run({"64k"}).exitCode, 2u);
  EXPECT_EQ(run({"99999999999"}).exitCode, 2u);
  EXPECT_EQ(run({"1", "2", "3", "4"}).exitCode, 2u);
  const platform::ProcessOutcome ordinary = platform::RunProgram(
      MEMLAT_REFERENCE_PATH, {"--no-thp", MEMLAT_DRIVER_PATH, "4096", "300000", "1"}, 60000);
  ASSERT_TRUE(ordinary.started) << ordinary.error;
  EXPECT_FALSE(ordinary.timedOut);
  EXPECT_EQ(ordinary.exitCode, 0u);
}

}  // namespace
