// The version an executable carries in its .qv_version section (four 16-bit numbers).
#pragma once

#include <string>

namespace platform {

// "major.minor.release.build" read from the file's .qv_version section; "000" when the file has
// none or cannot be read. An empty path (after trimming blanks) means this program's executable.
std::string FileVersionText(const std::string& path);

}  // namespace platform
