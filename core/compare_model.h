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

struct DialSetup {
  std::string title;
  double lower = 0;
  double upper = 0;
  double firstBandEnd = 0;
  double secondBandEnd = 0;
  double value = 0;  // as read; the dial clamps it into [lower, upper]
  bool visible = true;
  double Pointer() const;  // value clamped into the range, where the pointer sits
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

// Everything the three dials show, from the raw reply body (empty when the fetch failed).
CompareSetup SetupDials(const std::string& body, const ShareFacts& inputs);

}  // namespace core
