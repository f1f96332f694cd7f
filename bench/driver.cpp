// membw: runs one benchmark of the bandwidth module from a terminal. The arguments become the
// module's command line; every message is printed as it arrives.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/membw.h"
#include "platform/dynlib.h"
#include "platform/embedded.h"
#include "platform/image_file.h"
#include "platform/temp_folder.h"

QV_EMBEDDED_IMAGE(membw_driver_module)

namespace {

// One message, one unit: it gets a line end unless it brings its own.
void PrintMessage(const char* message) {
  const size_t n = std::strlen(message);
  std::fwrite(message, 1, n, stdout);
  if (n == 0 || message[n - 1] != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Writes the carried module out and loads it; a folder that forbids execution gets an in-memory
// copy instead.
bool LoadFreshModule(platform::ImageFile* image, platform::DynamicModule* module, std::string* error) {
  const platform::EmbeddedImage carried = membw_driver_module_image();
  std::string folderError;
  const std::string& folder = platform::PrivateFolder(&folderError);
  std::string loadError;
  if (!folder.empty()) {
    *image = platform::ImageFile::Write(folder + "/libmembw.so", carried.data, carried.size, error);
    if (image->Valid()) {
      *module = platform::DynamicModule(image->Path(), &loadError);
      if (module->Loaded()) return true;
      image->Remove();
    }
  } else {
    *error = folderError;
  }
  *image = platform::ImageFile::InMemory("libmembw.so", carried.data, carried.size, error);
  if (!image->Valid()) return false;
  *module = platform::DynamicModule(image->Path(), &loadError);
  if (module->Loaded()) return true;
  *error = loadError;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string commandLine = "membw ";
  for (int i = 1; i < argc; ++i) {
    commandLine += argv[i];
    commandLine += ' ';
  }
  platform::ImageFile image;
  platform::DynamicModule module;
  std::string error;
  if (!LoadFreshModule(&image, &module, &error)) {
    std::fprintf(stderr, "membw: cannot load the bandwidth module: %s\n", error.c_str());
    return 1;
  }
  const auto entry = reinterpret_cast<MembwEntry>(module.Symbol(MEMBW_ENTRY_NAME));
  if (!entry) {
    std::fprintf(stderr, "membw: the bandwidth module has no entry \"%s\"\n", MEMBW_ENTRY_NAME);
    return 1;
  }
  const int result = entry(commandLine.c_str(), PrintMessage);
  std::fflush(stdout);
  module.Unload();
  image.Remove();
  return result;
}
