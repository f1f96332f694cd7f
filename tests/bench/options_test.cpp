// The command line as users and the host write it: tokens, options, refusals, permutation,
// and the scanner position that one loaded instance keeps.
#include <cstdlib>
#include <string>
#include <vector>

#include "module_support.h"

namespace {

using bench_test::IsUsage;
using bench_test::Messages;
using bench_test::ModuleCopy;
using Strings = std::vector<std::string>;

// ID 13 stops right after the pass-size message, so it shows G without measuring anything.
Strings Probe(const std::string& commandLine, int* result = nullptr) {
  ModuleCopy copy;
  const int r = copy.Call(commandLine);
  if (result) *result = r;
  return Messages();
}

const Strings kUnknownId4{"4Gb per pass mode", "\nERROR: unknown benchmark ID"};

TEST(Sizes, PassSizeMustBeAPowerOfTwoThatFitsThirtyTwoBits) {
  int result = 0;
  for (const char* bad : {"-g10", "-g0", "-g-4", "-g4096", "-g2147483648"}) {
    EXPECT_EQ(Probe(std::string("membw -b13 ") + bad + " ", &result), Strings{"ERROR: invalid pass size"})
        << bad;
    EXPECT_EQ(result, 1);
  }
  EXPECT_EQ(Probe("membw -b13 -g16 ")[0], "16Gb per pass mode");
  EXPECT_EQ(Probe("membw -b13 -g2048 ")[0], "2048Gb per pass mode");
  EXPECT_EQ(Probe("membw -b13 -g8x ")[0], "8Gb per pass mode");  // read like atoi
  EXPECT_EQ(Probe("membw -b13 ")[0], "8Gb per pass mode");       // the default
  // A refusal ends the call: nothing after the faulty option is looked at.
  EXPECT_EQ(Probe("membw -b10 -g10 -m256 ", &result), Strings{"ERROR: invalid pass size"});
}

TEST(Sizes, ArraySizeMustBeAPowerOfTwoWhoseBytesFitThirtyTwoBits) {
  int result = 0;
  for (const char* bad : {"-m3", "-m0", "-m-1", "-m4096", "-m4194304", "-m4194305"}) {
    EXPECT_EQ(Probe(std::string("membw -b13 ") + bad + " ", &result), Strings{"ERROR: invalid array size"})
        << bad;
    EXPECT_EQ(result, 1);
  }
  EXPECT_EQ(Probe("membw -b13 -m2048 -g4 "), kUnknownId4);
  // An array larger than one pass would be traversed zero times.
  EXPECT_EQ(Probe("membw -b1 -g1 -m2048 ", &result),
            (Strings{"1Gb per pass mode", "ERROR: array size larger than the pass size"}));
  EXPECT_EQ(result, 1);
}

TEST(Sizes, SweepEndsAtTheArraySize) {
  ModuleCopy copy;
  ASSERT_EQ(copy.Call("membw -b10 -g1 -m1 "), 0);
  ASSERT_EQ(Messages().size(), 12u);  // pass-size message, blocks 1 .. 1024 Kb
  EXPECT_EQ(Messages()[1].rfind("MMX (nt) & WRITING        1 Kb block: ", 0), 0u) << Messages()[1];
  EXPECT_EQ(Messages()[11].rfind("MMX (nt) & WRITING     1024 Kb block: ", 0), 0u) << Messages()[11];
}

TEST(Sizes, PrefetchModeIsZeroOneOrTwo) {
  int result = 0;
  EXPECT_EQ(Probe("membw -b13 -t3 ", &result), Strings{"\nERROR: invalid software prefetch mode\n"});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Probe("membw -b13 -t-1 "), Strings{"\nERROR: invalid software prefetch mode\n"});
  EXPECT_EQ(Probe("membw -b13 -tx -g4 "), kUnknownId4);  // -tx reads as mode 0
}

TEST(RepeatedOptions, TheLastValueWins) {
  EXPECT_EQ(Probe("membw -b13 -g4 -g16 ")[0], "16Gb per pass mode");
  int result = 0;
  ModuleCopy copy;
  std::string out;
  result = copy.Call("membw -b13 -b-5 ", &out);  // a negative ID means none chosen
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsUsage(out));
}

TEST(UnknownOptions, UsageOnStandardOutputDiagnosticOnStandardError) {
  ModuleCopy copy;
  std::string out, err;
  EXPECT_EQ(copy.Call("membw -x -b12 ", &out, &err), 1);
  EXPECT_TRUE(Messages().empty());  // -b12 was never reached
  EXPECT_TRUE(IsUsage(out)) << out;
  EXPECT_NE(err.find(": unknown option -- x\n"), std::string::npos) << err;

  ModuleCopy other;
  EXPECT_EQ(other.Call("membw -g4 -b ", &out, &err), 1);
  EXPECT_NE(err.find(": option requires an argument -- b\n"), std::string::npos) << err;
  EXPECT_TRUE(IsUsage(out));
}

TEST(UnknownOptions, NoIdOrAnIdOutOfRange) {
  ModuleCopy copy;
  std::string out;
  EXPECT_EQ(copy.Call("membw -g4 ", &out), 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsUsage(out));

  ModuleCopy other;
  EXPECT_EQ(other.Call("membw -b13 -g4 ", &out), 1);
  EXPECT_EQ(Messages(), kUnknownId4);
  EXPECT_TRUE(IsUsage(out));
}

TEST(Permutation, NonOptionsMoveBehindTheOptions) {
  EXPECT_EQ(Probe("membw one -b13 two -g4 three "), kUnknownId4);
  EXPECT_EQ(Probe("membw -b 13 -g 4 "), kUnknownId4);        // arguments in their own tokens
  EXPECT_EQ(Probe("membw -b13 -g4 -- -g16 "), kUnknownId4);  // "--" ends scanning
}

TEST(Permutation, PosixlyCorrectStopsAtTheFirstNonOption) {
  setenv("POSIXLY_CORRECT", "1", 1);
  ModuleCopy copy;
  std::string out;
  const int result = copy.Call("membw one -b13 -g4 ", &out);
  unsetenv("POSIXLY_CORRECT");
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsUsage(out));
}

TEST(Tokens, TheLastWordNeedsATrailingBlank) {
  EXPECT_EQ(Probe("membw -b13 -g4")[0], "8Gb per pass mode");
  std::string out;
  ModuleCopy copy;
  EXPECT_EQ(copy.Call("membw -b13", &out), 1);  // no option survives at all
  EXPECT_TRUE(IsUsage(out));
}

TEST(Tokens, EmptyTokensAreSteppedOver) {
  EXPECT_EQ(Probe("membw  -b13   -g4  "), kUnknownId4);
  EXPECT_EQ(Probe("membw -b13\t-g2 -g4 "), kUnknownId4);  // a tab is part of the word: -b reads "13\t-g2"
}

TEST(Tokens, TooManyOrTooLongWordsAreRefused) {
  std::string line = "membw -b13 -g4 ";
  for (int i = 3; i < 52; ++i) line += "x ";
  EXPECT_EQ(Probe(line), kUnknownId4);  // exactly 52 tokens
  int result = 0;
  EXPECT_EQ(Probe(line + "x ", &result), Strings{"ERROR: command line has more than 52 words"});
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Probe("membw -b13 -g4 " + std::string(99, 'y') + " "), kUnknownId4);
  EXPECT_EQ(Probe("membw -b13 -g4 " + std::string(100, 'y') + " ", &result),
            Strings{"ERROR: command line word longer than 99 characters"});
  EXPECT_EQ(result, 1);
}

TEST(Tokens, NullArgumentsEndInUsage) {
  ModuleCopy copy;
  const auto entry = reinterpret_cast<MembwEntry>(copy.Module().Symbol(MEMBW_ENTRY_NAME));
  ASSERT_NE(entry, nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(entry(nullptr, nullptr), 1);
  EXPECT_TRUE(IsUsage(testing::internal::GetCapturedStdout()));
}

TEST(ScannerPosition, ASecondCallOnOneInstanceFindsNoOption) {
  ModuleCopy copy;
  EXPECT_EQ(copy.Call("membw -b13 -g4 "), 1);
  EXPECT_EQ(Messages(), kUnknownId4);
  std::string out;
  EXPECT_EQ(copy.Call("membw -b13 -g4 ", &out), 1);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(IsUsage(out));
}

TEST(ScannerPosition, EachCopyStartsFromTokenOne) {
  ModuleCopy first;
  ModuleCopy second;  // both loaded at once: two instances in one process
  EXPECT_NE(first.Module().Symbol(MEMBW_ENTRY_NAME), second.Module().Symbol(MEMBW_ENTRY_NAME));
  EXPECT_EQ(first.Call("membw -b13 -g4 "), 1);
  EXPECT_EQ(Messages(), kUnknownId4);
  EXPECT_EQ(second.Call("membw -b13 -g2 "), 1);
  EXPECT_EQ(Messages()[0], "2Gb per pass mode");
  std::string out;
  EXPECT_EQ(first.Call("membw -b13 -g4 ", &out), 1);  // the first copy has used its command line
  EXPECT_TRUE(Messages().empty());
}

TEST(ScannerPosition, UnloadingDiscardsThePosition) {
  for (int round = 0; round < 3; ++round) {
    ModuleCopy copy("membw-reloaded.so");  // the same file loaded, called and unloaded each round
    EXPECT_EQ(copy.Call("membw -b13 -g4 "), 1);
    EXPECT_EQ(Messages(), kUnknownId4) << "round " << round;
  }
}

TEST(Exports, EntryAndVersion) {
  ModuleCopy copy;
  const auto version = reinterpret_cast<MembwVersion>(copy.Module().Symbol(MEMBW_VERSION_NAME));
  ASSERT_NE(version, nullptr);
  EXPECT_DOUBLE_EQ(version(), 1.002);
  EXPECT_EQ(copy.Module().Symbol("Version?Q"), nullptr);  // the link-time stand-in is gone
  EXPECT_EQ(copy.Module().Symbol("mmxwr_nt"), nullptr);   // kernels stay inside
}

}  // namespace
