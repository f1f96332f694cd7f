#include "platform/temp_folder.h"

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <mutex>

#include "platform/posix_detail.h"

namespace platform {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

struct PrivateFolderHolder {
  std::once_flag once;
  std::string path;
  std::string error;
  ~PrivateFolderHolder() {
    if (!path.empty()) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
};

PrivateFolderHolder& Holder() {
  static PrivateFolderHolder holder;
  return holder;
}

}  // namespace

std::string TempFolder() {
  if (std::getenv("TMP") && std::getenv("TEMP") && detail::NonEmptyEnv("TEMP"))
    return detail::WithoutTrailingSeparator(detail::NonEmptyEnv("TEMP"));
  if (const char* t = detail::NonEmptyEnv("TMPDIR")) return detail::WithoutTrailingSeparator(t);
  return "/tmp";
}

const std::string& PrivateFolder(std::string* error) {
  PrivateFolderHolder& h = Holder();
  std::call_once(h.once, [&h] {
    std::string templ = TempFolder() + "/" + program_invocation_short_name + "-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
      h.error = detail::Errno("cannot create a private folder in " + TempFolder());
      return;
    }
    h.path = templ;
  });
  if (error && h.path.empty()) *error = h.error;
  return h.path;
}

}  // namespace platform
