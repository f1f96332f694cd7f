#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

#include "platform/posix_detail.h"

namespace platform {

using detail::Errno;
using detail::WriteAll;

bool WriteFileExclusive(const std::string& path, const void* data, size_t size, std::string* error,
                        bool sync) {
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
  struct stat st {};
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
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool IsWritableFolder(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool IsOwnWritableFolder(const std::string& folder) {
  struct stat st {};
  return IsWritableFolder(folder) && ::stat(folder.c_str(), &st) == 0 && st.st_uid == ::geteuid();
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
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
