// The arithmetic of UpdateScore: shared bar maximum and score caption.
#pragma once

#include <string>

namespace core {

inline constexpr const char* kNoScoreCaption = "--.--";

struct ScoreUpdate {
  int sharedMax = 0;    // the maximum all three bandwidth bars get
  std::string caption;  // "--.--" or the score with two decimals and a trailing blank
};

// From the three bandwidth bars' maxima and captions.
ScoreUpdate ComputeScore(int readMax, int writeMax, int copyMax, const std::string& readCaption,
                         const std::string& writeCaption, const std::string& copyCaption);

// (rd + wr + cp) / 1000 / 3 with two decimals and a blank ("10.39 "), "--.--" when any is <= 0.
std::string ScoreCaption(long long rd, long long wr, long long cp);

}  // namespace core
