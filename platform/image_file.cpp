#include "platform/image_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

#include "platform/file_io.h"
#include "platform/posix_detail.h"

namespace platform {

using detail::Errno;
using detail::WriteAll;

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
