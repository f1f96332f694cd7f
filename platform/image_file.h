// An executable or loadable image placed where it can be run.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Write() puts the bytes at path
// (exclusively). InMemory() makes an anonymous memory file instead (memfd_create) for folders
// that forbid execution; its Path() is the /proc/self/fd/N name. The destructor removes the file
// or closes the memory file.
class ImageFile {
 public:
  ImageFile() = default;
  static ImageFile Write(const std::string& path, const void* data, size_t size, std::string* error);
  static ImageFile InMemory(const std::string& name, const void* data, size_t size, std::string* error);
  ~ImageFile();
  ImageFile(ImageFile&& other) noexcept;
  ImageFile& operator=(ImageFile&& other) noexcept;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  bool Valid() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  bool InMemoryFile() const { return fd_ >= 0; }
  // Deletes the file now (or closes the memory file). True when a file was removed.
  bool Remove();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace platform
