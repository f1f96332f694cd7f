// What the quick compare makes of the server's reply: the request target, the cleaned reply, its
// words, and the range, bands and pointer of the three dials. Plain C++, shared by the window and
// the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/gate.h"

namespace core {

inline constexpr const char* kCompareUserAgent = "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)";
inline constexpr const char* kCompareAccept = "text/html, */*";
inline constexpr long kCompareLimitMs = 9000;  // connect and read

// Where the user's value lies against a dial's range; Unknown for an empty range.
enum class DialSide { Inside, Below, Above, Unknown };

struct DialSetup {
  std::string title;
  std::string unit;  // of the value line under the dial
  int decimals = 0;  // of the tick labels and the value line
  double lower = 0;
  double upper = 0;
  double firstBandEnd = 0;
  double secondBandEnd = 0;
  double value = 0;  // as read; the dial clamps it into [lower, upper]
  bool visible = true;
  double Pointer() const;  // value clamped into the range, where the pointer sits
  DialSide Side() const;
  // "Yours: 44.07 GByte/s, above the scale" (the side only when off the scale).
  std::string ValueText() const;
};

struct CompareSetup {
  std::string reply;     // the cleaned reply, one memo line
  std::string subtitle;  // the same on every dial
  DialSetup score;
  DialSetup clock;
  DialSetup latency;
};

// "/compare.php?P1=" + type + "&&P2=" + channels; the type loses its parenthesised parts (one
// blank each). Characters outside the plain URL set are percent-escaped so the request is valid.
std::string CompareRequestTarget(const std::string& memoryType, const std::string& channels);

// Upper-cased (ASCII), "<BR />" to "#", the two stray byte sequences removed.
std::string CleanCompareReply(const std::string& body);

// The maximal runs of characters other than "#".
std::vector<std::string> ReplyWords(const std::string& reply);

// A reference word cleaned to its number and read as the nearest whole number; 0 for no number.
int32_t ReferenceNumber(const std::string& word);

// L + (U - L) / 3 * factor
double BandEnd(double lower, double upper, double factor);

// Round tick values (1, 2 or 5 times a power of ten apart) inside [lower, upper], at most
// maxTicks of them and as many as that allows; empty for an empty range.
std::vector<double> RoundTicks(double lower, double upper, int maxTicks);
// The step between RoundTicks' values (0 for an empty range).
double RoundTickStep(double lower, double upper, int maxTicks);

// Everything the three dials show, from the raw reply body (empty when the fetch failed).
CompareSetup SetupDials(const std::string& body, const ShareFacts& inputs);

}  // namespace core
