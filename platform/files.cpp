#include "platform/files.h"

#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

namespace platform {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

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
  if (std::getenv("TMP") && std::getenv("TEMP") && NonEmptyEnv("TEMP"))
    return WithoutTrailingSeparator(NonEmptyEnv("TEMP"));
  if (const char* t = NonEmptyEnv("TMPDIR")) return WithoutTrailingSeparator(t);
  return "/tmp";
}

const std::string& PrivateFolder(std::string* error) {
  PrivateFolderHolder& h = Holder();
  std::call_once(h.once, [&h] {
    std::string templ = TempFolder() + "/quorvex-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
      h.error = Errno("cannot create a private folder in " + TempFolder());
      return;
    }
    h.path = templ;
  });
  if (error && h.path.empty()) *error = h.error;
  return h.path;
}

bool WriteFileExclusive(const std::string& path, const void* data, size_t size, std::string* error, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  if (fd < 0) {
    if (error) *error = Errno("cannot create " + path);
    return false;
  }
  bool ok = WriteAll(fd, static_cast<const char*>(data), size);
  if (ok && sync) ok = ::fsync(fd) == 0;
  if (!ok && error) *error = Errno("cannot write " + path);
  if (::close(fd) != 0 && ok) {
    ok = false;
    if (error) *error = Errno("cannot write " + path);
  }
  if (!ok) ::unlink(path.c_str());
  return ok;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  // The sibling gets a random name so two writers never share it; the rename is atomic on one
  // file system, so readers see either the old file or the new one.
  std::random_device rd;
  std::string sibling;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    sibling = path + ".new-" + std::to_string(rd() % 1000000);
    fd = ::open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    if (error) *error = Errno("cannot create " + sibling);
    return false;
  }
  // Keep the old file's permissions where there is one.
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    errno = saved;
    if (error) *error = Errno("cannot write " + sibling);
    ::unlink(sibling.c_str());
    return false;
  }
  if (::rename(sibling.c_str(), path.c_str()) != 0) {
    if (error) *error = Errno("cannot replace " + path);
    ::unlink(sibling.c_str());
    return false;
  }
  // Make the rename itself durable.
  const std::string::size_type slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = Errno("cannot open " + path);
    return false;
  }
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = Errno("cannot read " + path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  *bytes = std::move(out);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool IsWritableFolder(const std::string& folder) {
  struct stat st{};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    partial = folder.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st{};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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

std::string UserDataFolder() {
  if (const char* xdg = NonEmptyEnv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
    return WithoutTrailingSeparator(xdg) + "/quorvex";
  const char* home = NonEmptyEnv("HOME");
  std::string h;
  if (home) {
    h = home;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    h = pw->pw_dir;
  } else {
    h = "/tmp";
  }
  return WithoutTrailingSeparator(h) + "/.local/share/quorvex";
}

ImageFile ImageFile::Write(const std::string& path, const void* data, size_t size, std::string* error) {
  ImageFile f;
  if (WriteFileExclusive(path, data, size, error)) f.path_ = path;
  return f;
}

ImageFile ImageFile::InMemory(const std::string& name, const void* data, size_t size, std::string* error) {
  ImageFile f;
  const int fd = ::memfd_create(name.c_str(), MFD_CLOEXEC);
  if (fd < 0) {
    if (error) *error = Errno("cannot create an in-memory file");
    return f;
  }
  if (!WriteAll(fd, static_cast<const char*>(data), size)) {
    if (error) *error = Errno("cannot fill an in-memory file");
    ::close(fd);
    return f;
  }
  f.fd_ = fd;
  f.path_ = "/proc/self/fd/" + std::to_string(fd);
  return f;
}

ImageFile::~ImageFile() { Remove(); }

ImageFile::ImageFile(ImageFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), fd_(std::exchange(other.fd_, -1)) {}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool ImageFile::Remove() {
  bool removed = false;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    removed = true;
  } else if (!path_.empty()) {
    removed = ::unlink(path_.c_str()) == 0;
  }
  path_.clear();
  return removed;
}

}  // namespace platform
