// Whole-file reads and writes that never leave a part behind, and small folder checks.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

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
// The same, and owned by the user the program runs as (false on any failure).
bool IsOwnWritableFolder(const std::string& folder);
// Creates the folder and its parents (mode 0700 for those it makes). True when it exists after.
bool MakeFolders(const std::string& folder);

}  // namespace platform
