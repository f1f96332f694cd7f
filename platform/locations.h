// Where things are: the running executable, and a program's data folder in the user's home.
#pragma once

#include <string>

namespace platform {

// Path of the running executable and its folder (no trailing separator).
std::string ExecutablePath();
std::string ExecutableFolder();

// $XDG_DATA_HOME/NAME, default ~/.local/share/NAME (not created here).
std::string UserDataFolder(const std::string& name);

}  // namespace platform
