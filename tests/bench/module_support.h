// Loading fresh copies of the real module and collecting what one call delivers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/membw.h"
#include "platform/dynlib.h"
#include "platform/file_io.h"
#include "platform/image_file.h"
#include "platform/temp_folder.h"

namespace bench_test {

// Every message of the call in progress, in order.
inline std::vector<std::string>& Messages() {
  static std::vector<std::string> messages;
  return messages;
}

inline void Collect(const char* message) { Messages().push_back(message); }

// One loaded copy of libmembw.so under a name of its own, so each copy is a separate instance.
class ModuleCopy {
 public:
  // A name of its own, or the given one (reusing a name after the copy is gone).
  explicit ModuleCopy(const std::string& name = std::string()) {
    static int copies = 0;
    std::string bytes, error;
    EXPECT_TRUE(platform::ReadWholeFile(MEMBW_MODULE_PATH, &bytes, &error)) << error;
    const std::string path = platform::PrivateFolder() + "/" +
                             (name.empty() ? "membw-copy-" + std::to_string(++copies) + ".so" : name);
    image_ = platform::ImageFile::Write(path, bytes.data(), bytes.size(), &error);
    EXPECT_TRUE(image_.Valid()) << error;
    module_ = platform::DynamicModule(image_.Path(), &error);
    EXPECT_TRUE(module_.Loaded()) << error;
    entry_ = reinterpret_cast<MembwEntry>(module_.Symbol(MEMBW_ENTRY_NAME));
    EXPECT_NE(entry_, nullptr);
  }

  const platform::DynamicModule& Module() const { return module_; }

  // Calls membw with the command line; messages land in Messages(), stdout and stderr in out/err.
  int Call(const std::string& commandLine, std::string* out = nullptr, std::string* err = nullptr) {
    Messages().clear();
    if (!entry_) return -1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = entry_(commandLine.c_str(), Collect);
    const std::string o = testing::internal::GetCapturedStdout();
    const std::string e = testing::internal::GetCapturedStderr();
    if (out) *out = o;
    if (err) *err = e;
    return result;
  }

 private:
  platform::ImageFile image_;
  platform::DynamicModule module_;
  MembwEntry entry_ = nullptr;
};

// The usage text as the module writes it.
inline bool IsUsage(const std::string& out) {
  return out.rfind("\nUSAGE: membw -b ID [-g size] [-m size] [-l runs]\n", 0) == 0 &&
         out.find("-i  displays processor related information (CPUinfo)\n") != std::string::npos;
}

}  // namespace bench_test
