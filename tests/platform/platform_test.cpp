#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/embedded.h"
#include "platform/file_io.h"
#include "platform/file_version.h"
#include "platform/image_file.h"
#include "platform/locations.h"
#include "platform/process.h"
#include "platform/temp_folder.h"
#include "platform/worker.h"

QV_EMBEDDED_IMAGE(test_module)

namespace {

using CallFn = int (*)();

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v, had_ = true;
  }
  ~EnvGuard() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

std::string Fresh(const std::string& leaf) {
  return platform::PrivateFolder() + "/" + leaf + std::to_string(::getpid());
}

TEST(TempFolder, FollowsTmpAndTempThenTmpdir) {
  EnvGuard a("TMP"), b("TEMP"), c("TMPDIR");
  setenv("TMP", "/x", 1);
  setenv("TEMP", "/var/tmp/", 1);
  EXPECT_EQ(platform::TempFolder(), "/var/tmp");
  unsetenv("TMP");  // TEMP alone does not count
  setenv("TMPDIR", "/srv/t", 1);
  EXPECT_EQ(platform::TempFolder(), "/srv/t");
  unsetenv("TMPDIR");
  EXPECT_EQ(platform::TempFolder(), "/tmp");
}

TEST(PrivateFolder, IsOursAlone) {
  const std::string& dir = platform::PrivateFolder();
  ASSERT_FALSE(dir.empty());
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(&platform::PrivateFolder(), &dir);  // one folder per process
}

TEST(Files, ExclusiveWriteNeverReplacesAFile) {
  const std::string path = Fresh("excl");
  std::string error;
  ASSERT_TRUE(platform::WriteFileExclusive(path, "abc", 3, &error)) << error;
  EXPECT_FALSE(platform::WriteFileExclusive(path, "xyz", 3, &error));
  EXPECT_NE(error.find(path), std::string::npos);
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "abc");
  EXPECT_TRUE(platform::DeleteFile(path));
  EXPECT_FALSE(platform::DeleteFile(path));
}

TEST(Files, AtomicReplaceKeepsOldContentOnFailure) {
  const std::string path = Fresh("log");
  std::string error;
  ASSERT_TRUE(platform::ReplaceFileAtomically(path, "one\r\n", &error)) << error;
  ASSERT_TRUE(platform::ReplaceFileAtomically(path, "one\r\ntwo\r\n", &error)) << error;
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "one\r\ntwo\r\n");
  EXPECT_FALSE(platform::ReplaceFileAtomically(path + ".missing/x", "z", &error));
  ASSERT_TRUE(platform::ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "one\r\ntwo\r\n");
  platform::DeleteFile(path);
}

TEST(Files, MakeFoldersAndWritableCheck) {
  const std::string base = Fresh("tree");
  EXPECT_FALSE(platform::IsWritableFolder(base));
  ASSERT_TRUE(platform::MakeFolders(base + "/a/b"));
  EXPECT_TRUE(platform::IsWritableFolder(base + "/a/b"));
  EXPECT_FALSE(platform::ReadWholeFile(base + "/none", nullptr));
}

TEST(Files, UserDataFolderFollowsXdg) {
  EnvGuard x("XDG_DATA_HOME"), h("HOME");
  setenv("XDG_DATA_HOME", "/d/x/", 1);
  EXPECT_EQ(platform::UserDataFolder("app"), "/d/x/app");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(platform::UserDataFolder("app"), "/home/u/.local/share/app");
}

TEST(Modules, EmbeddedImageIsTheBuiltFile) {
  std::string onDisk;
  ASSERT_TRUE(platform::ReadWholeFile(TEST_MODULE_PATH, &onDisk));
  const platform::EmbeddedImage image = test_module_image();
  ASSERT_EQ(image.size, onDisk.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data), image.size), onDisk);
}

TEST(Modules, EveryLoadOfAFreshImageStartsFresh) {
  const platform::EmbeddedImage image = test_module_image();
  for (int round = 0; round < 2; ++round) {
    std::string error;
    platform::ImageFile file =
        platform::ImageFile::Write(Fresh("mod" + std::to_string(round)), image.data, image.size, &error);
    ASSERT_TRUE(file.Valid()) << error;
    platform::DynamicModule module(file.Path(), &error);
    ASSERT_TRUE(module.Loaded()) << error;
    auto call = reinterpret_cast<CallFn>(module.Symbol("test_module_call"));
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call(), 1);
    EXPECT_EQ(call(), 2);
    EXPECT_EQ(module.Symbol("calls"), nullptr);  // hidden
    module.Unload();
    const std::string path = file.Path();
    EXPECT_TRUE(file.Remove());
    EXPECT_FALSE(platform::FileExists(path));
  }
}

TEST(Modules, InMemoryImageLoadsAndTwoCopiesAreIndependent) {
  const platform::EmbeddedImage image = test_module_image();
  std::string error;
  platform::ImageFile a = platform::ImageFile::InMemory("a", image.data, image.size, &error);
  platform::ImageFile b = platform::ImageFile::InMemory("b", image.data, image.size, &error);
  ASSERT_TRUE(a.Valid() && b.Valid()) << error;
  EXPECT_TRUE(a.InMemoryFile());
  platform::DynamicModule ma(a.Path(), &error), mb(b.Path(), &error);
  ASSERT_TRUE(ma.Loaded() && mb.Loaded()) << error;
  auto ca = reinterpret_cast<CallFn>(ma.Symbol("test_module_call"));
  auto cb = reinterpret_cast<CallFn>(mb.Symbol("test_module_call"));
  EXPECT_EQ(ca(), 1);
  EXPECT_EQ(ca(), 2);
  EXPECT_EQ(cb(), 1);
}

TEST(Modules, MissingFileGivesTheLoadersMessage) {
  std::string error;
  platform::DynamicModule m("/nonexistent/lib.so", &error);
  EXPECT_FALSE(m.Loaded());
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(m.Symbol("x"), nullptr);
}

TEST(Processes, ExitCodesArgumentsAndLimit) {
  platform::ProcessOutcome r = platform::RunProgram("/bin/sh", {"-c", "exit 3"}, 5000);
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 3u);

  // An argument with blanks arrives as one argument, unquoted.
  r = platform::RunProgram("/bin/sh", {"-c", "[ \"$0\" = \"-txt=/a b/c\" ]", "-txt=/a b/c"}, 5000);
  EXPECT_EQ(r.exitCode, 0u);

  const uint32_t before = platform::TickCount();
  r = platform::RunProgram("/bin/sleep", {"10"}, 200);
  const uint32_t took = platform::TickCount() - before;
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_LT(took, 5000u);

  r = platform::RunProgram("/nonexistent/tool", {}, 100);
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.error.empty());
  EXPECT_GE(platform::ProcessorCount(), 1);
}

TEST(FileVersion, ReadsTheSectionOrGivesThreeZeros) {
  EXPECT_EQ(platform::FileVersionText(""), "3.0.24.109");
  EXPECT_EQ(platform::FileVersionText("  "), "3.0.24.109");
  EXPECT_EQ(platform::FileVersionText(platform::ExecutablePath()), "3.0.24.109");
  EXPECT_EQ(platform::FileVersionText("/bin/sh"), "000");
  EXPECT_EQ(platform::FileVersionText("/nonexistent"), "000");
  EXPECT_EQ(platform::FileVersionText("/etc/hostname"), "000");
}

TEST(Worker, RunsOneStepLowerAndStopsOnRequest) {
  platform::LowPriorityWorker worker;
  std::atomic<int> nice{-100};
  std::atomic<bool> running{false};
  errno = 0;
  const int mine = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
  worker.Start([&](const std::atomic<bool>& stop) {
    nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    running = true;
    double v = 0.561;
    while (!stop.load(std::memory_order_relaxed) && v < 999999999999.0) v *= 0.561;
  });
  while (!running) platform::SleepMs(1);
  EXPECT_TRUE(worker.Running());
  worker.Stop();
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(nice.load(), std::min(mine + 1, 19));
  worker.Stop();  // stopping twice is harmless
}

TEST(Clock, CounterAdvancesInNanoseconds) {
  int64_t f = 0, a = 0, b = 0;
  ASSERT_TRUE(platform::PerformanceFrequency(&f));
  EXPECT_EQ(f, 1000000000);
  ASSERT_TRUE(platform::PerformanceCounter(&a));
  platform::SleepMs(5);
  ASSERT_TRUE(platform::PerformanceCounter(&b));
  EXPECT_GE(b - a, 4000000);
}

}  // namespace
