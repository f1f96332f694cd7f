// When the upload and the quick compare may go on, written once for the window and the terminal:
// both need a score and the system's memory facts; the upload also needs the cache size and the
// CPU and OS panels.
#pragma once

#include <string>

#include "core/gathering.h"
#include "core/window_state.h"

namespace core {

inline constexpr const char* kNoSystemSpecToUpload = " Cannot upload, no system spec\xC2\xB4s ! ";
inline constexpr const char* kNoScoreToUpload = " No score to upload ! ";
inline constexpr const char* kNoSystemSpecToCompare = " Cannot compare, no system spec\xC2\xB4s ! ";
inline constexpr const char* kNoScoreToCompare = " No score to compare ! ";

// What the upload and the quick compare read from the window and the gathering.
struct ShareFacts {
  std::string memoryType;      // SpecValue(CHIP_MEMORY_TYPE) as it comes
  std::string channels;        // SpecValue(CHIP_CHANNELS) as it comes
  double memoryClock = 0;      // MHz
  std::string scoreCaption;    // caption of acLabel3
  std::string latencyCaption;  // caption of blaten
};

// The facts as the model shows them and the gathering learned them: the one place they are read.
ShareFacts ShareFactsOf(const WindowState& state, const MachineFacts& facts);

enum class Share { Upload, Compare };

// The message that stops an upload or a compare before anything happens, or empty when it may go
// on. The upload checks the system before the score, the compare the score before the system.
std::string ShareStop(Share share, const ShareFacts& facts);

// What stops an upload before a run has scored: the system check of ShareStop, then the rule
// ApplyUploadGate applies after every run ("" when only a score is missing).
std::string UploadStopBeforeRun(const WindowState& state, const MachineFacts& facts,
                                const std::string& largestCacheKBytes);

// Disables upload when the cache size is unknown or the CPU or OS panel reads exactly "*".
void ApplyUploadGate(WindowState& state, const std::string& largestCacheKBytes);

}  // namespace core
