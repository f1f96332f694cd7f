#include "platform/locations.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/posix_detail.h"

namespace platform {

using detail::NonEmptyEnv;
using detail::WithoutTrailingSeparator;

std::string ExecutablePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

std::string ExecutableFolder() {
  const std::string exe = ExecutablePath();
  const std::string::size_type slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string UserDataFolder(const std::string& name) {
  if (const char* xdg = NonEmptyEnv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
    return WithoutTrailingSeparator(xdg) + "/" + name;
  const char* home = NonEmptyEnv("HOME");
  std::string h;
  if (home) {
    h = home;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    h = pw->pw_dir;
  } else {
    h = "/tmp";
  }
  return WithoutTrailingSeparator(h) + "/.local/share/" + name;
}

}  // namespace platform
