// Build step: gives the finished module its export "Version@0". The linker reads "@" in a
// symbol name as a version, so the module is linked with the stand-in "Version?Q", which has
// the same length and the same GNU hash; renaming the string keeps every hash table valid.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr uint32_t GnuHash(const char* s) {
  uint32_t h = 5381;
  for (; *s; ++s) h = h * 33 + static_cast<unsigned char>(*s);
  return h;
}

constexpr char kStandIn[] = "Version?Q";
constexpr char kName[] = "Version@0";
static_assert(sizeof kStandIn == sizeof kName && GnuHash(kStandIn) == GnuHash(kName));

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s module.so\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
      return 1;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string from = std::string(1, '\0') + kStandIn + '\0';
  const std::string to = std::string(1, '\0') + kName + '\0';
  int renamed = 0;
  for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 1)) {
    bytes.replace(at, from.size(), to);
    ++renamed;
  }
  if (renamed == 0) {
    if (bytes.find(to) != std::string::npos) return 0;  // already renamed
    std::fprintf(stderr, "%s: %s has no export %s\n", argv[0], path.c_str(), kStandIn);
    return 1;
  }
  const std::string temporary = path + ".renaming";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], temporary.c_str());
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot replace %s\n", argv[0], path.c_str());
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
