// The temporary folder, the program's private folder inside it, and file writes that never
// replace somebody else's file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// "TEMP" when both "TMP" and "TEMP" are set, else TMPDIR, else /tmp. No trailing separator.
std::string TempFolder();

// A folder only this user can enter (mode 0700, made with mkdtemp inside TempFolder()) that
// lives as long as the process; removed with whatever it still holds at exit. Empty when it
// cannot be made, with the reason in error.
const std::string& PrivateFolder(std::string* error = nullptr);

// Creates path exclusively (O_CREAT | O_EXCL, mode 0700) and writes all bytes; flushes to disk
// when sync is set. On any failure nothing is left at path and error says why.
bool WriteFileExclusive(const std::string& path, const void* data, size_t size, std::string* error,
                        bool sync = false);

// Writes bytes to a sibling of path, flushes it and renames it over path, so path holds either
// its old content or the new one, never a part. On failure path is untouched.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

// Reads a whole file. False (and error) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error = nullptr);

bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);  // false when nothing was deleted
bool IsWritableFolder(const std::string& folder);
// Creates the folder and its parents (mode 0700 for those it makes). True when it exists after.
bool MakeFolders(const std::string& folder);

// Path of the running executable and its folder (no trailing separator).
std::string ExecutablePath();
std::string ExecutableFolder();

// $XDG_DATA_HOME/quorvex, default ~/.local/share/quorvex (not created here).
std::string UserDataFolder();

// An executable or loadable image placed where it can be run. Write() puts the bytes at path
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
