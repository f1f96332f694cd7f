// The results page: plain HTML with one style sheet, every stored text escaped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/reference.h"
#include "server/store.h"

namespace qvserver {

struct KindRanges {
  MemoryKind kind;
  CompareRanges ranges;
};

struct PageData {
  ResultFilter filter;
  std::vector<MemoryKind> kinds;       // for the filter choices
  std::vector<KindRanges> references;  // one line per kind shown in the ranges table
  std::vector<ResultRow> rows;         // newest first, or in ranking order
  bool more = false;                   // older (ranked: lower) results exist past the last row
  bool newer = false;                  // newer results exist before the first row (newest first)
  size_t total = 0;                    // results stored in all
  bool cut = false;                    // the search ran out of time before the page was full
  // A ranking was asked for without a whole kind: the commonest kind that fits was taken.
  bool kindChosen = false;
};

// What the kind page draws: one kind's scores and (clock, score) points, each machine once.
struct KindData {
  MemoryKind kind;
  CompareRanges ranges;
  ScoreHistogram scores;
  std::vector<std::pair<double, double>> points;  // (memory clock MHz, score GByte/s)
};

// The query string (without "?") that selects this list; sort and paging stay out.
std::string FilterQuery(const ResultFilter& f, bool withSort = true);
const char* SortName(SortKey key);  // "newest", "score", "read", ...
std::optional<SortKey> ParseSort(std::string_view name);

std::string RenderKindPage(const KindData& data);
// A list as data: JSON (an object with a "results" array, and "next", the address of the page
// after it, when next names one for the rows written) or CSV (a header line, one line per
// result). Rows past maxBytes are left for the next page; the first row is always written.
std::string ResultsJson(const std::vector<ResultRow>& rows, const std::string& base,
                        size_t maxBytes = SIZE_MAX, const std::function<std::string(size_t)>& next = {});
std::string ResultsCsv(const std::vector<ResultRow>& rows, const std::string& base,
                       size_t maxBytes = SIZE_MAX, size_t* written = nullptr);

std::string RenderResultsPage(const PageData& data);

// A refused or failed page request, in the site's style: the status and its one-line reason.
std::string RenderErrorPage(int status, std::string_view reason);

// "DDR4 dual-channel" for "DDR4" and "Dual"; "DDR4, 2 x 64-bit channels" for other channel texts.
std::string KindLabel(std::string_view type, std::string_view channels);

// "faster than 73 % of DDR4 dual-channel results"
std::string RankText(const Rank& rank, std::string_view type, std::string_view channels);

// "DDR4-3200" for a DDR2 to DDR5 memory clock figure within 1 % of a JEDEC speed grade, empty
// otherwise. The program's figure is one above the data rate: a DDR4-3200 kit records 3201 MHz.
std::string SpeedGrade(std::string_view type, int clockMHz);

// The answer of /rank.json: where score stands among the kind's sending networks, or why it has
// no rank (rank empty: fewer than kMinResultsForPercentiles networks). kind names the stored
// spellings when the kind is known.
std::string RankJson(std::string_view type, std::string_view channels, const std::optional<MemoryKind>& kind,
                     double score, const std::optional<Rank>& rank);

// One result: its picture, every field of its record, its rank within its kind.
std::string RenderResultPage(const ResultRow& row, const std::optional<Rank>& rank,
                             const CompareRanges& ranges);

extern const char kStyleSheet[];

}  // namespace qvserver
