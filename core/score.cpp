#include "core/score.h"

#include <algorithm>

#include "core/numeric.h"
#include "core/window_state.h"

namespace core {
namespace {

long long CaptionValue(const std::string& caption) {
  // Only captions the program wrote come here; anything unreadable counts as no result.
  const auto value = ParseInteger(NumericText("0" + caption));
  return value ? *value : 0;
}

}  // namespace

std::string ScoreCaption(long long rd, long long wr, long long cp) {
  if (rd <= 0 || wr <= 0 || cp <= 0) return kNoScoreCaption;
  return ScoreCaptionOf(FixedText(static_cast<double>(rd + wr + cp) / 1000.0 / 3.0, 2));
}

ScoreUpdate ComputeScore(int readMax, int writeMax, int copyMax, const std::string& readCaption,
                         const std::string& writeCaption, const std::string& copyCaption) {
  ScoreUpdate update;
  update.sharedMax = std::max({0, readMax, writeMax, copyMax});
  update.caption =
      ScoreCaption(CaptionValue(readCaption), CaptionValue(writeCaption), CaptionValue(copyCaption));
  return update;
}

}  // namespace core
