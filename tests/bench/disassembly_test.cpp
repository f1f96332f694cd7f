// Every kernel of the table as the processor sees it: its timed loop, read back from the built
// module with objdump, issues per iteration exactly the loads, stores and prefetches that its row
// declares, and nothing else but the pointer steps and the count.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/kernels.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

using membw_internal::Family;
using membw_internal::KernelRow;
using membw_internal::kKernelRows;
using membw_internal::Prefetch;

// One instruction of a function of the module.
struct Instruction {
  uint64_t address = 0;
  std::string mnemonic, operands;
};

std::vector<Instruction> Disassemble(const std::string& function) {
  const std::string out = platform::PrivateFolder() + "/disassembly-" + function + ".txt";
  const std::string command = "objdump -d --no-show-raw-insn --disassemble=" + function + " '" +
                              std::string(MEMBW_MODULE_PATH) + "' > '" + out + "'";
  const platform::ProcessOutcome run = platform::RunProgram("/bin/sh", {"-c", command}, 60000);
  std::vector<Instruction> code;
  if (!run.started || run.exitCode != 0) return code;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    // "    1f40:\tmovntq %mm0,0x8(%rax)"
    const size_t colon = line.find(":\t");
    if (colon == std::string::npos || line.find_first_not_of(" 0123456789abcdef") != colon) continue;
    Instruction i;
    i.address = std::stoull(line.substr(0, colon), nullptr, 16);
    std::istringstream fields(line.substr(colon + 2));
    fields >> i.mnemonic;
    std::getline(fields >> std::ws, i.operands);
    code.push_back(i);
  }
  platform::DeleteFile(out);
  return code;
}

bool BackwardJump(const Instruction& i) {
  if (i.mnemonic != "jne") return false;
  return std::stoull(i.operands, nullptr, 16) <= i.address;
}

// The timed loop: the largest loop that holds no other loop (the fills are smaller, the pass over
// the chunks holds the chunk loop).
std::vector<Instruction> TimedLoop(const std::vector<Instruction>& code) {
  std::vector<Instruction> best;
  for (size_t end = 0; end < code.size(); ++end) {
    if (!BackwardJump(code[end])) continue;
    const uint64_t target = std::stoull(code[end].operands, nullptr, 16);
    size_t begin = end;
    while (begin > 0 && code[begin].address > target) --begin;
    const bool inner =
        std::none_of(code.begin() + static_cast<long>(begin), code.begin() + static_cast<long>(end),
                     [](const Instruction& i) { return BackwardJump(i); });
    if (inner && end - begin > best.size())
      best.assign(code.begin() + static_cast<long>(begin), code.begin() + static_cast<long>(end));
  }
  return best;
}

bool IsPrefetch(const Instruction& i) { return i.mnemonic.rfind("prefetch", 0) == 0; }
bool TouchesMemory(const Instruction& i) {
  return !IsPrefetch(i) && i.operands.find("(%") != std::string::npos;
}

// A memory access that writes: x87 stores, and every instruction whose last operand is in memory.
bool Stores(const Instruction& i) {
  if (!TouchesMemory(i)) return false;
  if (i.mnemonic.rfind("fst", 0) == 0) return true;
  const size_t comma = i.operands.rfind(',');
  return comma != std::string::npos && i.operands.find("(%", comma) != std::string::npos;
}

int Count(const std::vector<Instruction>& code, bool (*what)(const Instruction&)) {
  return static_cast<int>(std::count_if(code.begin(), code.end(), what));
}

int Count(const std::vector<Instruction>& code, const std::string& mnemonic,
          const std::string& operandPart = "") {
  int n = 0;
  for (const Instruction& i : code)
    if (i.mnemonic == mnemonic && i.operands.find(operandPart) != std::string::npos) ++n;
  return n;
}

std::string Hex(uint32_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

const char* PrefetchMnemonic(Prefetch p) { return p == Prefetch::kT0 ? "prefetcht0" : "prefetchnta"; }

class Disassembly : public testing::Test {
 protected:
  void SetUp() override {
    if (platform::RunProgram("/bin/sh", {"-c", "command -v objdump"}, 10000).exitCode != 0)
      GTEST_SKIP() << "objdump (binutils) is not installed";
  }
};

TEST_F(Disassembly, EveryLoopMovesTheTrafficItsRowDeclares) {
  for (const KernelRow& row : kKernelRows) {
    SCOPED_TRACE(row.name);
    const auto code = Disassemble(row.name);
    ASSERT_FALSE(code.empty());
    const auto loop = TimedLoop(code);
    const int width = row.family == Family::kInt ? 4 : 8;  // bytes of one element
    const int loads = Count(loop, TouchesMemory) - Count(loop, Stores);
    EXPECT_EQ(loads, static_cast<int>(row.read * row.bytes) / width);
    EXPECT_EQ(Count(loop, Stores), static_cast<int>(row.written * row.bytes) / width);
    // One pointer step of a chunk per array.
    EXPECT_EQ(Count(loop, "add", "$" + Hex(row.bytes) + ","), static_cast<int>(row.Arrays()));
    // Besides those only the count and the arithmetic on MMX and x87 registers.
    for (const Instruction& i : loop) {
      if (TouchesMemory(i) || IsPrefetch(i) || i.mnemonic == "add" || i.mnemonic == "dec") continue;
      EXPECT_TRUE(i.mnemonic == "pmullw" || i.mnemonic == "fmul" || i.mnemonic == "ffree")
          << i.mnemonic << " " << i.operands;
    }
  }
}

TEST_F(Disassembly, NonTemporalLoopsPrefetchOneChunkAheadExceptTheLast) {
  for (const KernelRow& row : kKernelRows) {
    SCOPED_TRACE(row.name);
    const auto code = Disassemble(row.name);
    const auto loop = TimedLoop(code);
    if (row.prefetch == Prefetch::kNone) {
      EXPECT_EQ(Count(code, IsPrefetch), 0);
      continue;
    }
    // One prefetch per 32 bytes read, all of the row's kind, all into the next chunk.
    const std::string mnemonic = PrefetchMnemonic(row.prefetch);
    EXPECT_EQ(Count(loop, mnemonic), static_cast<int>(row.read * row.bytes / 32));
    EXPECT_EQ(Count(loop, IsPrefetch), Count(loop, mnemonic));
    for (const Instruction& i : loop) {
      if (!IsPrefetch(i)) continue;
      const uint64_t offset = std::stoull(i.operands, nullptr, 16);
      EXPECT_GE(offset, row.bytes) << i.operands;
      EXPECT_LT(offset, 2 * row.bytes) << i.operands;
    }
    EXPECT_EQ(Count(code, IsPrefetch), Count(loop, IsPrefetch));  // the last chunk goes without
  }
}

TEST_F(Disassembly, T0TwinsDifferOnlyInThePrefetch) {
  int twins = 0;
  for (const KernelRow& row : kKernelRows) {
    if (row.prefetch != Prefetch::kT0) continue;
    const std::string name = row.name;
    SCOPED_TRACE(name);
    const auto t0 = TimedLoop(Disassemble(name));
    const auto nta = TimedLoop(Disassemble(name.substr(0, name.size() - 3)));  // without "_t0"
    ASSERT_EQ(t0.size(), nta.size());
    for (size_t i = 0; i < t0.size(); ++i) {
      if (!IsPrefetch(t0[i])) {
        EXPECT_EQ(t0[i].mnemonic, nta[i].mnemonic) << i;
      }
    }
    ++twins;
  }
  EXPECT_EQ(twins, 4);
}

TEST_F(Disassembly, MmxKernelsLeaveMmxStateWithoutAFence) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP()
      << "the sanitizer build keeps the kernel's helpers out of line, so the code is not the shape shipped";
#endif
  for (const KernelRow& row : kKernelRows) {
    if (row.family != Family::kMmx && row.family != Family::kMmxNt) continue;
    SCOPED_TRACE(row.name);
    const auto code = Disassemble(row.name);
    EXPECT_EQ(Count(code, "emms"), 1);
    EXPECT_EQ(Count(code, "sfence"), 0);
  }
}

// The module's dynamic symbol table: its three exports and nothing that would pin it in memory.
TEST_F(Disassembly, ExportsOnlyTheEntryTheVersionAndTheRunner) {
  const std::string out = platform::PrivateFolder() + "/dynsyms.txt";
  const std::string command =
      "readelf -W --dyn-syms '" + std::string(MEMBW_MODULE_PATH) + "' > '" + out + "'";
  ASSERT_EQ(platform::RunProgram("/bin/sh", {"-c", command}, 60000).exitCode, 0u);
  std::ifstream in(out);
  std::vector<std::string> exported;
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.find("UNIQUE"), std::string::npos) << line;  // dlclose could not unload the module
    std::istringstream f(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(f >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
    if (ndx != "UND" && ndx != "Ndx" && (bind == "GLOBAL" || bind == "WEAK")) exported.push_back(name);
  }
  platform::DeleteFile(out);
  std::sort(exported.begin(), exported.end());
  EXPECT_EQ(exported, (std::vector<std::string>{"Version@0", "membw", "membw_run"}));
}

}  // namespace
