// The temporary folder and this process's private folder inside it.
#pragma once

#include <string>

namespace platform {

// "TEMP" when both "TMP" and "TEMP" are set, else TMPDIR, else /tmp. No trailing separator.
std::string TempFolder();

// A folder only this user can enter (mode 0700, made with mkdtemp inside TempFolder() and named
// after the running executable) that lives as long as the process; removed with whatever it still
// holds at exit. Empty when it cannot be made, with the reason in error.
const std::string& PrivateFolder(std::string* error = nullptr);

}  // namespace platform
