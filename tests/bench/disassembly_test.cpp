// The non-temporal kernels as the processor sees them: per chunk exactly the stores, loads and
// prefetches they are meant to issue, read back from the built module with objdump.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

// Mnemonics and operands of one function of the module, in address order.
struct Instruction {
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
    std::istringstream fields(line.substr(colon + 2));
    Instruction i;
    fields >> i.mnemonic;
    std::getline(fields >> std::ws, i.operands);
    code.push_back(i);
  }
  platform::DeleteFile(out);
  return code;
}

// The unrolled chunk: from the first instruction with `first` to the loop's conditional jump.
std::vector<Instruction> Chunk(const std::vector<Instruction>& code, const std::string& first) {
  size_t begin = 0;
  while (begin < code.size() && code[begin].mnemonic != first) ++begin;
  size_t end = begin;
  while (end < code.size() && code[end].mnemonic != "jne") ++end;
  return {code.begin() + static_cast<long>(begin), code.begin() + static_cast<long>(end)};
}

int Count(const std::vector<Instruction>& chunk, const std::string& mnemonic,
          const std::string& operandPart = "") {
  int n = 0;
  for (const Instruction& i : chunk)
    if (i.mnemonic == mnemonic && i.operands.find(operandPart) != std::string::npos) ++n;
  return n;
}

class Disassembly : public testing::Test {
 protected:
  void SetUp() override {
    if (platform::RunProgram("/bin/sh", {"-c", "command -v objdump"}, 10000).exitCode != 0)
      GTEST_SKIP() << "objdump (binutils) is not installed";
  }
};

TEST_F(Disassembly, WriteKernelStores64QuadwordsPerChunk) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP()
      << "the sanitizer build keeps the kernel's helpers out of line, so the code is not the shape shipped";
#endif
  const auto code = Disassemble("mmxwr_nt");
  ASSERT_FALSE(code.empty());
  const auto chunk = Chunk(code, "movntq");
  EXPECT_EQ(Count(chunk, "movntq"), 64);
  EXPECT_EQ(Count(chunk, "add", "$0x200,"), 1);  // one pointer step of 512 bytes
  EXPECT_EQ(chunk.size(), 64u + 2);              // and the counter decrement, nothing else
  EXPECT_EQ(Count(code, "sfence"), 0);
  EXPECT_EQ(Count(code, "emms"), 1);
}

TEST_F(Disassembly, ReadKernelPrefetchesTheNextChunkWhileLoading) {
  const auto code = Disassemble("mmxrd_nt");
  ASSERT_FALSE(code.empty());
  const auto chunk = Chunk(code, "prefetchnta");
  EXPECT_EQ(Count(chunk, "prefetchnta"), 16);
  EXPECT_EQ(Count(chunk, "movq", ",%mm0"), 64);
  ASSERT_GE(chunk.size(), 4u);
  EXPECT_EQ(chunk[0].operands.substr(0, 6), "0x200(");  // one chunk ahead
  EXPECT_EQ(Count(code, "prefetchnta"), 16);            // the last chunk goes without
}

TEST_F(Disassembly, CopyKernelsDifferOnlyInThePrefetch) {
  const auto nta = Chunk(Disassemble("mmxcp_nt"), "prefetchnta");
  const auto t0 = Chunk(Disassemble("mmxcp_nt_t0"), "prefetcht0");
  EXPECT_EQ(Count(nta, "prefetchnta"), 8);
  EXPECT_EQ(Count(nta, "movq"), 32);
  EXPECT_EQ(Count(nta, "movntq"), 32);
  ASSERT_EQ(nta.size(), t0.size());
  for (size_t i = 0; i < nta.size(); ++i)
    if (nta[i].mnemonic != "prefetchnta") {
      EXPECT_EQ(nta[i].mnemonic, t0[i].mnemonic) << i;
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
