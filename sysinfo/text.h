// Byte-level text helpers shared by the report conversion, the lookups and the panels.
// Texts are 8-bit; only A-Z and a-z change case; a blank is code 32.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/trim.h"

namespace sysinfo {

// Case-exact, left to right, replaced text never rescanned; an empty search leaves text as is.
std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replacement);

// Every "(" up to the next ")" after it becomes one blank, then one pass of "  " -> " ".
// A "(" without a ")" after it loses everything from it to the end (one blank in its place).
// "unknown" when nothing but blanks is left; otherwise the text untrimmed.
std::string StripParentheses(std::string_view text);

// Runs of two or more blanks become one blank; not trimmed.
std::string CollapseBlanks(std::string_view text);

// Every blank deleted.
std::string RemoveBlanks(std::string_view text);

// The report's texts trim as every text rule does (text/trim.h).
using text::Trim;

std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);

bool Contains(std::string_view text, std::string_view part);

// Lines of a file's bytes: CR LF, lone CR and lone LF each end a line; a final line end adds
// no empty line.
std::vector<std::string> SplitLines(std::string_view bytes);

// Shortest decimal text that reads back as value, "." as point whatever the locale; whole
// numbers without decimals (3201).
std::string ShortestNumberText(double value);

}  // namespace sysinfo
