// The results page: plain HTML with one style sheet, every stored text escaped.
#pragma once

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
  std::vector<ResultRow> rows;         // newest first
  bool more = false;                   // older results exist past the last row
  size_t total = 0;                    // results stored in all
};

std::string HtmlEscape(std::string_view text);
std::string UrlEncode(std::string_view text);
std::string RenderResultsPage(const PageData& data);

extern const char kStyleSheet[];

}  // namespace qvserver
