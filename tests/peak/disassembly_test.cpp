// Every peak kernel as the processor sees it, read back from the built library with objdump: its
// inner loop moves exactly the vectors its row declares (eight per array, of its unit's width, a
// row's bytes per step), the stores are non-temporal and fenced, and no instruction needs a wider
// unit than the row's (that would fault on a processor without it).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "peak/kernels.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace peak {
namespace {

struct Instruction {
  uint64_t address = 0;
  std::string mnemonic, operands;
};

std::string Mangled(const char* name) {
  return "_ZN4peak7kernels" + std::to_string(std::string(name).size()) + name + "EPKvPvmm";
}

std::vector<Instruction> Disassemble(const char* name) {
  const std::string out = platform::PrivateFolder() + "/peak-disassembly-" + name + ".txt";
  const std::string command = "objdump -d --no-show-raw-insn --disassemble=" + Mangled(name) + " '" +
                              std::string(PEAK_LIBRARY_PATH) + "' > '" + out + "'";
  const platform::ProcessOutcome run = platform::RunProgram("/bin/sh", {"-c", command}, 60000);
  std::vector<Instruction> code;
  if (!run.started || run.exitCode != 0) return code;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(":\t");
    if (colon == std::string::npos || line.find_first_not_of(" 0123456789abcdef") != colon) continue;
    Instruction i;
    i.address = std::stoull(line.substr(0, colon), nullptr, 16);
    std::istringstream fields(line.substr(colon + 2));
    fields >> i.mnemonic;
    std::getline(fields >> std::ws, i.operands);
    code.push_back(i);
  }
  std::remove(out.c_str());
  return code;
}

// The pass over the array: from the target of the backward "jb" to it.
std::vector<Instruction> InnerLoop(const std::vector<Instruction>& code) {
  for (size_t end = 0; end < code.size(); ++end) {
    if (code[end].mnemonic != "jb") continue;
    const uint64_t target = std::stoull(code[end].operands, nullptr, 16);
    if (target > code[end].address) continue;
    size_t begin = end;
    while (begin > 0 && code[begin].address > target) --begin;
    return {code.begin() + static_cast<std::ptrdiff_t>(begin),
            code.begin() + static_cast<std::ptrdiff_t>(end)};
  }
  return {};
}

std::string FirstOperand(const std::string& operands) {
  int depth = 0;
  for (size_t i = 0; i < operands.size(); ++i) {
    if (operands[i] == '(') ++depth;
    if (operands[i] == ')') --depth;
    if (operands[i] == ',' && depth == 0) return operands.substr(0, i);
  }
  return operands;
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(PeakDisassembly, EachLoopMovesWhatItsRowDeclares) {
  const char* widths[] = {"%xmm", "%ymm", "%zmm"};
  for (const KernelRow& row : kKernelRows) {
    SCOPED_TRACE(row.name);
    const std::vector<Instruction> code = Disassemble(row.name);
    ASSERT_FALSE(code.empty()) << "objdump found no " << Mangled(row.name);
    const int unit = static_cast<int>(row.isa);
    for (const Instruction& i : code)
      for (int wider = unit + 1; wider < kIsaCount; ++wider)
        EXPECT_FALSE(Has(i.operands, widths[wider])) << i.mnemonic << " " << i.operands;

    const std::vector<Instruction> loop = InnerLoop(code);
    ASSERT_FALSE(loop.empty());
    uint32_t loads = 0, stores = 0, steps = 0;
    for (const Instruction& i : loop) {
      if (i.mnemonic == "add" && Has(i.operands, "$")) {
        EXPECT_EQ(std::stoull(i.operands.substr(1), nullptr, 16), row.bytes) << i.operands;
        ++steps;
        continue;
      }
      if (!Has(i.operands, "(")) continue;
      EXPECT_TRUE(Has(i.operands, widths[unit])) << i.mnemonic << " " << i.operands;
      if (Has(FirstOperand(i.operands), "(")) {
        ++loads;
      } else {
        EXPECT_TRUE(Has(i.mnemonic, "movnt")) << "a store that is not non-temporal: " << i.mnemonic;
        ++stores;
      }
    }
    const uint32_t perVector = row.bytes / 8;  // eight vectors per iteration
    EXPECT_EQ(loads * perVector, row.read * row.bytes);
    EXPECT_EQ(stores * perVector, row.written * row.bytes);
    EXPECT_EQ(steps, row.Arrays());
    bool fenced = false;
    for (const Instruction& i : code) fenced = fenced || i.mnemonic == "sfence";
    EXPECT_EQ(fenced, row.written > 0);
  }
}

}  // namespace
}  // namespace peak
