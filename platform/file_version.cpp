#include "platform/file_version.h"

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/locations.h"

namespace platform {
namespace {

std::string TrimBlanks(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool ReadAt(std::ifstream& in, uint64_t offset, void* out, size_t size) {
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

}  // namespace

std::string FileVersionText(const std::string& path) {
  std::string file = TrimBlanks(path);
  if (file.empty()) file = ExecutablePath();
  std::ifstream in(file, std::ios::binary);
  if (!in) return "000";

  Elf64_Ehdr eh{};
  if (!ReadAt(in, 0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 ||
      eh.e_shstrndx >= eh.e_shnum || eh.e_shnum > 4096)
    return "000";

  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  if (!ReadAt(in, eh.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) return "000";
  const Elf64_Shdr& names = sections[eh.e_shstrndx];
  if (names.sh_size == 0 || names.sh_size > (1u << 20)) return "000";
  std::string table(names.sh_size, '\0');
  if (!ReadAt(in, names.sh_offset, table.data(), table.size())) return "000";

  for (const Elf64_Shdr& s : sections) {
    if (s.sh_name >= table.size()) continue;
    if (std::strcmp(table.c_str() + s.sh_name, ".qv_version") != 0) continue;
    uint16_t v[4];
    if (s.sh_size < sizeof v || s.sh_type == SHT_NOBITS || !ReadAt(in, s.sh_offset, v, sizeof v))
      return "000";
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
  }
  return "000";
}

}  // namespace platform
