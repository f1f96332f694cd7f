// The one gate of the upload and the quick compare: the facts both read, the order of their
// checks, and the upload button's own rule.
#include "core/gate.h"

#include <gtest/gtest.h>

#include "core/host.h"
#include "core/notices.h"
#include "core/score.h"

namespace {

using core::Share;

core::ShareFacts Complete() { return {"DDR4", "Dual", 1600.0, "10.39 ", "LATENCY  78.5  ns"}; }

TEST(ShareGate, FactsComeFromTheModelAndTheGathering) {
  core::WindowState state;
  state.SetScoreCaption("10.54 ");
  state.SetBar(core::BarId::Latency, {1500, 750, "LATENCY  75.0  ns"});
  core::MachineFacts facts;
  facts.spec.lines = {"CHIP_MEMORY_TYPE: \"DDR4\"", "CHIP_CHANNELS: \"Dual\""};
  facts.memoryClock = 1600;
  const core::ShareFacts share = core::ShareFactsOf(state, facts);
  EXPECT_EQ(share.memoryType, "DDR4");
  EXPECT_EQ(share.channels, "Dual");
  EXPECT_EQ(share.memoryClock, 1600);
  EXPECT_EQ(share.scoreCaption, "10.54 ");
  EXPECT_EQ(share.latencyCaption, "LATENCY  75.0  ns");
  // Nothing gathered: the lookups' "*", which the gate refuses.
  const core::ShareFacts none = core::ShareFactsOf(core::WindowState(), core::MachineFacts());
  EXPECT_EQ(none.memoryType, "*");
  EXPECT_EQ(core::ShareStop(Share::Compare, none), core::kNoScoreToCompare);
}

TEST(ShareGate, UploadChecksTheSystemFirstCompareTheScoreFirst) {
  core::ShareFacts neither = Complete();
  neither.memoryType = "*";
  neither.scoreCaption = "--.--";
  EXPECT_EQ(core::ShareStop(Share::Upload, neither), " Cannot upload, no system spec\xC2\xB4s ! ");
  EXPECT_EQ(core::ShareStop(Share::Compare, neither), " No score to compare ! ");

  for (auto spoil :
       {+[](core::ShareFacts& f) { f.memoryType = " * "; }, +[](core::ShareFacts& f) { f.channels = "*"; },
        +[](core::ShareFacts& f) { f.memoryClock = 0; }}) {
    core::ShareFacts f = Complete();
    spoil(f);
    EXPECT_EQ(core::ShareStop(Share::Upload, f), core::kNoSystemSpecToUpload);
    EXPECT_EQ(core::ShareStop(Share::Compare, f), " Cannot compare, no system spec\xC2\xB4s ! ");
  }
  core::ShareFacts noScore = Complete();
  noScore.scoreCaption = core::kNoScoreCaption;
  EXPECT_EQ(core::ShareStop(Share::Upload, noScore), " No score to upload ! ");
  EXPECT_EQ(core::ShareStop(Share::Compare, noScore), core::kNoScoreToCompare);

  EXPECT_EQ(core::ShareStop(Share::Upload, Complete()), "");
  EXPECT_EQ(core::ShareStop(Share::Compare, Complete()), "");
}

TEST(ShareGate, UploadButtonClosesOnAnUnknownCacheOrAStarPanel) {
  core::WindowState state;
  sysinfo::PanelTexts panels;
  panels.cpup = "Intel Core i7-8700K @ 3.70GHz";
  panels.osp = "*";
  state.SetPanels(panels);
  core::ApplyUploadGate(state, "12288");
  EXPECT_FALSE(state.Enabled(core::Control::Upload));
  panels.osp = "* - *";  // only exactly "*" counts
  state.SetPanels(panels);
  state.SetEnabled(core::Control::Upload, true);
  core::ApplyUploadGate(state, "12288");
  EXPECT_TRUE(state.Enabled(core::Control::Upload));
  core::ApplyUploadGate(state, core::kUnknownCacheKBytes);
  EXPECT_FALSE(state.Enabled(core::Control::Upload));
}

TEST(ShareGate, AnUploadIsRefusedBeforeTheRunForTheSystemNotTheScore) {
  core::WindowState state;
  sysinfo::PanelTexts panels;
  panels.cpup = "Intel Core i7-8700K @ 3.70GHz";
  panels.osp = "Linux 6.1";
  state.SetPanels(panels);
  core::MachineFacts facts;
  facts.spec.lines = {"CHIP_MEMORY_TYPE: \"DDR4\"", "CHIP_CHANNELS: \"Dual\""};
  facts.memoryClock = 1600;
  ASSERT_EQ(state.ScoreCaption(), core::kNoScoreCaption);
  EXPECT_EQ(core::UploadStopBeforeRun(state, facts, "12288"), "");  // the run is yet to score
  EXPECT_TRUE(state.Enabled(core::Control::Upload));                // asking changes nothing
  EXPECT_EQ(core::UploadStopBeforeRun(state, facts, core::kUnknownCacheKBytes),
            "the processor's cache size is unknown");
  panels.cpup = "*";
  state.SetPanels(panels);
  EXPECT_EQ(core::UploadStopBeforeRun(state, facts, "12288"),
            "the processor or the operating system is unknown");
  facts.memoryClock = 0;
  EXPECT_EQ(core::UploadStopBeforeRun(state, facts, "12288"), core::kNoSystemSpecToUpload);
}

TEST(Notices, MissingMemoryFactsNameEachUnknownFactOnce) {
  EXPECT_EQ(core::MissingMemoryFacts(Complete()), "");
  core::ShareFacts f = Complete();
  f.memoryClock = 0;
  f.channels = " * ";
  EXPECT_EQ(core::MissingMemoryFacts(f),
            "memory clock and channels unknown: run once as root, or see README: memory facts");
  f.memoryType = "*";
  EXPECT_EQ(core::MissingMemoryFacts(f),
            "memory type, clock and channels unknown: run once as root, or see README: memory facts");
  f = Complete();
  f.memoryType = "*";
  EXPECT_EQ(core::MissingMemoryFacts(f),
            "memory type unknown: run once as root, or see README: memory facts");
}

TEST(Notices, LatencyNotMeasuredOnlyForAZeroFigureOfARunTest) {
  EXPECT_EQ(core::LatencyNotMeasured("LATENCY", core::kUnknownCacheKBytes), "");  // never ran
  EXPECT_EQ(core::LatencyNotMeasured("LATENCY  65.5  ns", "12288"), "");
  EXPECT_NE(
      core::LatencyNotMeasured("LATENCY  0.0  ns", core::kUnknownCacheKBytes).find("cache size is unknown"),
      std::string::npos);
  EXPECT_NE(core::LatencyNotMeasured("LATENCY  0.0  ns", "12288").find("module gave no figure"),
            std::string::npos);
}

}  // namespace
