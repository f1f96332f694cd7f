// Switches the process to a German locale (decimal comma) for one test, generating it with
// localedef when the system has none installed.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <string>

class DecimalCommaLocale {
 public:
  DecimalCommaLocale() {
    if (!Activate()) {
      const std::string folder = (std::filesystem::temp_directory_path() / "quorvex-test-locales").string();
      std::filesystem::create_directories(folder);
      const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
      if (std::system(command.c_str()) == 0 || std::filesystem::exists(folder + "/de_DE.UTF-8")) {
        setenv("LOCPATH", folder.c_str(), 1);
        Activate();
      }
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    active_ = std::string(buffer) == "1,5";
  }
  ~DecimalCommaLocale() {
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale::classic());
  }
  bool Active() const { return active_; }

 private:
  static bool Activate() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
        try {
          std::locale::global(std::locale(name));
        } catch (...) {
        }
        return true;
      }
    }
    return false;
  }
  bool active_ = false;
};
