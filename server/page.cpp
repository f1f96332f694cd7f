#include "server/page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "text/server_contract.h"
#include "text/web_text.h"

namespace qvserver {

using text::MarkupEscape;
using text::UrlEncode;

const char kStyleSheet[] =
    R"css(:root { color-scheme: light; --ink: #1d2733; --muted: #5b6775; --line: #d7dde4; --band: #f4f7fa; --accent: #004080; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 "DejaVu Sans", "Segoe UI", Tahoma, sans-serif; color: var(--ink); background: #fff; }
header { background: var(--accent); color: #fff; padding: 14px 24px; }
header h1 { margin: 0; font-size: 20px; font-weight: 600; }
header p { margin: 2px 0 0; opacity: .85; }
main { padding: 16px 24px 40px; }
h2 { font-size: 16px; margin: 24px 0 8px; }
form.filter { display: flex; gap: 12px; align-items: end; flex-wrap: wrap; background: var(--band); border: 1px solid var(--line); padding: 10px 12px; border-radius: 6px; }
form.filter label { display: flex; flex-direction: column; font-size: 12px; color: var(--muted); }
form.filter select, form.filter button { font: inherit; padding: 4px 8px; }
table { border-collapse: collapse; width: 100%; margin-top: 8px; }
th, td { border-bottom: 1px solid var(--line); padding: 6px 8px; text-align: left; vertical-align: top; }
th { background: var(--band); font-size: 12px; color: var(--muted); font-weight: 600; white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.score { font-weight: 700; color: var(--accent); }
td small, p.note { color: var(--muted); }
img.shot { width: 120px; height: auto; border: 1px solid var(--line); display: block; }
.empty { padding: 24px; text-align: center; color: var(--muted); }
nav.pages { margin-top: 12px; display: flex; gap: 16px; }
p.rank { font-size: 18px; margin: 8px 0 16px; }
table.fields { width: auto; }
table.fields th { text-align: right; }
img.full { max-width: 100%; height: auto; border: 1px solid var(--line); }
a { color: var(--accent); }
.scroll { overflow-x: auto; max-width: 100%; }
.narrow { display: none; }
table.results td.mem { min-width: 14em; }
table.results td.pic { white-space: nowrap; }
table.fields td { overflow-wrap: anywhere; }
.grade { border-bottom: 1px dotted var(--muted); cursor: help; font-weight: 600; }
p.memory { font-size: 15px; margin: 8px 0 0; }
p.reason { font-size: 16px; padding: 10px 12px; background: var(--band); border-left: 4px solid var(--accent); }
svg.chart { display: block; max-width: 100%; height: auto; font-family: inherit; }
svg.chart text { fill: var(--ink); }
svg.chart .grid { stroke: #eef1f4; }
svg.chart .axis { stroke: var(--muted); }
svg.chart .band { fill: #2e8b57; fill-opacity: .13; }
svg.chart .bar { fill: var(--accent); }
svg.chart line.mark { stroke: var(--muted); stroke-dasharray: 4 3; }
svg.chart text.mark { fill: var(--muted); }
svg.chart .dot { fill: var(--accent); fill-opacity: .6; }
p.legend { color: var(--muted); font-size: 12px; margin: 4px 0 0; }
.swatch { display: inline-block; width: 12px; height: 12px; margin-right: 6px; vertical-align: -2px; background: rgba(46, 139, 87, .25); }
@media (max-width: 600px) {
  header { padding: 10px 12px; }
  main { padding: 12px 12px 32px; }
  form.filter label, form.filter select, form.filter input { width: 100%; }
  table.fields th { white-space: normal; }
  nav.pages { flex-wrap: wrap; gap: 8px 16px; }
  /* Wide tables become one card per row, each figure under its own name. */
  table.cards, table.cards tbody, table.cards tr, table.cards td { display: block; width: 100%; }
  table.cards thead, table.cards .wide { display: none; }
  table.cards .narrow { display: inline; }
  table.cards tr { border: 1px solid var(--line); border-radius: 6px; margin: 0 0 10px; padding: 4px 0; }
  table.cards td { border: 0; padding: 3px 10px; }
  table.cards td.num { display: flex; flex-wrap: wrap; justify-content: space-between; column-gap: 12px; text-align: right; }
  table.cards td.num::before { content: attr(data-label); color: var(--muted); font-size: 12px; font-weight: 400; }
  table.cards td.num small { flex-basis: 100%; margin-top: -4px; }
  table.results img.shot { width: 100%; max-width: 240px; }
}
)css";

namespace {

std::string Fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string UtcTime(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::string Head(std::string_view title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" +
         MarkupEscape(title) + "</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n";
}

std::string RangeText(const Range& r) { return std::to_string(r.low) + " – " + std::to_string(r.high); }

std::string Option(std::string_view value, std::string_view label, bool selected) {
  return "<option value=\"" + MarkupEscape(value) + "\"" + (selected ? " selected" : "") + ">" +
         MarkupEscape(label) + "</option>";
}

std::string Join(std::string a, const std::string& b) {
  if (b.empty()) return a;
  return a.empty() ? b : a + "&" + b;
}

}  // namespace

std::string FilterQuery(const ResultFilter& f, bool withSort) {
  std::string q;
  if (!f.type.empty()) q = Join(q, "type=" + UrlEncode(f.type));
  if (!f.channels.empty()) q = Join(q, "channels=" + UrlEncode(f.channels));
  if (!f.text.empty()) q = Join(q, "q=" + UrlEncode(f.text));
  if (withSort && f.sort != SortKey::Newest) q = Join(q, std::string("sort=") + SortName(f.sort));
  return q;
}

const char* SortName(SortKey key) {
  switch (key) {
    case SortKey::Score:
      return "score";
    case SortKey::Read:
      return "read";
    case SortKey::Write:
      return "write";
    case SortKey::Copy:
      return "copy";
    case SortKey::Latency:
      return "latency";
    default:
      return "newest";
  }
}

std::optional<SortKey> ParseSort(std::string_view name) {
  for (SortKey k :
       {SortKey::Newest, SortKey::Score, SortKey::Read, SortKey::Write, SortKey::Copy, SortKey::Latency})
    if (name == SortName(k)) return k;
  return std::nullopt;
}

namespace {

// The site's frame: the page head, its banner and the end of the page.
std::string Banner(std::string_view title, const std::string& subtitleHtml) {
  return "<header><h1>" + MarkupEscape(title) + "</h1><p>" + subtitleHtml + "</p></header>\n<main>\n";
}

const char kPageEnd[] = "</main></body></html>\n";

// A wide table scrolls on its own on a narrow screen instead of widening the page.
std::string Scrolling(const std::string& table) { return "<div class=\"scroll\">" + table + "</div>\n"; }

std::string ResultLink(int64_t id) { return std::string(contract::kResultPagePrefix) + std::to_string(id); }

// Why the figure differs from the grade, for the title of a memory label.
std::string ClockNote(std::string_view grade, int clockMHz) {
  return "The record says " + std::to_string(clockMHz) +
         " MHz: the program counts twice the clock its hardware report gives, plus 1 MHz. " +
         std::string(grade) + " is the nearest JEDEC speed grade.";
}

// "DDR4-3200 dual-channel", the grade carrying its explanation; the kind alone without a grade.
std::string MemoryLabelHtml(std::string_view type, std::string_view channels, int clockMHz) {
  const std::string kind = KindLabel(type, channels);
  const std::string grade = SpeedGrade(type, clockMHz);
  if (grade.empty()) return MarkupEscape(kind);
  return "<span class=\"grade\" title=\"" + MarkupEscape(ClockNote(grade, clockMHz)) + "\">" +
         MarkupEscape(grade) + "</span>" + MarkupEscape(kind.substr(type.size()));
}

void AddUnique(std::vector<std::string>& list, const std::string& v) {
  for (const auto& x : list)
    if (MatchKey(x) == MatchKey(v)) return;
  list.push_back(v);
}

std::string FilterForm(const PageData& d) {
  std::vector<std::string> types, channels;
  for (const auto& k : d.kinds) {
    AddUnique(types, k.type);
    AddUnique(channels, k.channels);
  }
  if (!d.filter.type.empty()) AddUnique(types, d.filter.type);
  if (!d.filter.channels.empty()) AddUnique(channels, d.filter.channels);
  std::string h = "<form class=\"filter\" method=\"get\" action=\"/\">";
  h += "<label>Memory type<select name=\"type\">" + Option("", "any", d.filter.type.empty());
  for (const auto& t : types) h += Option(t, t, MatchKey(t) == MatchKey(d.filter.type));
  h += "</select></label><label>Channels<select name=\"channels\">" +
       Option("", "any", d.filter.channels.empty());
  for (const auto& c : channels) h += Option(c, c, MatchKey(c) == MatchKey(d.filter.channels));
  h += "</select></label><label>CPU, mainboard or module<input type=\"search\" name=\"q\" maxlength=\"100\" "
       "value=\"" +
       MarkupEscape(d.filter.text) + "\"></label><label>Order<select name=\"sort\">";
  static const std::pair<SortKey, const char*> kOrders[] = {
      {SortKey::Newest, "newest first"},  {SortKey::Score, "ranking by score"},
      {SortKey::Read, "ranking by READ"}, {SortKey::Write, "ranking by WRITE"},
      {SortKey::Copy, "ranking by COPY"}, {SortKey::Latency, "ranking by latency"}};
  for (const auto& [key, label] : kOrders) h += Option(SortName(key), label, d.filter.sort == key);
  h += "</select></label><button type=\"submit\">Show</button>";
  if (!d.filter.type.empty() || !d.filter.channels.empty() || !d.filter.text.empty())
    h += " <a href=\"/\">all results</a>";
  return h + "</form>\n";
}

// The reference ranges, the same the quick compare gets.
std::string ReferenceTable(const PageData& d) {
  std::string h = "<h2>Reference ranges</h2>\n";
  if (d.references.empty()) return h + "<p class=\"note\">No results for this choice yet.</p>\n";
  auto cell = [](const char* label, const Range& r, size_t samples) {
    return "<td class=\"num\" data-label=\"" + std::string(label) + "\">" + RangeText(r) + "<br><small>" +
           (samples ? "5th–95th pct of " + std::to_string(samples) : std::string("reference")) +
           "</small></td>";
  };
  std::string t =
      "<table class=\"cards\"><thead><tr><th>Memory</th><th>Channels</th><th>Results</th><th>Score "
      "GByte/s</th>"
      "<th>Memory clock MHz</th><th>Latency ns</th></tr></thead><tbody>\n";
  for (const auto& kr : d.references) {
    ResultFilter only;
    only.type = kr.kind.type;
    only.channels = kr.kind.channels;
    t += "<tr><td class=\"lead\"><a href=\"/?" + MarkupEscape(FilterQuery(only)) + "\">" +
         MarkupEscape(kr.kind.type) + "</a> <span class=\"narrow\">" + MarkupEscape(kr.kind.channels) +
         "</span></td><td class=\"wide\">" + MarkupEscape(kr.kind.channels) +
         "</td><td class=\"num\" data-label=\"Results\">" + std::to_string(kr.kind.count) + "</td>" +
         cell("Score GByte/s", kr.ranges.score, kr.ranges.scoreSamples) +
         cell("Memory clock MHz", kr.ranges.clock, kr.ranges.clockSamples) +
         cell("Latency ns", kr.ranges.latency, kr.ranges.latencySamples) + "</tr>\n";
  }
  t += "</tbody></table>";
  return h + Scrolling(t) + "<p class=\"note\">Percentiles are used once " +
         std::to_string(kMinResultsForPercentiles) +
         " sending networks of a kind carry the figure; before that the server's own reference scale is "
         "shown.</p>\n";
}

std::string ListHeading(const PageData& d) {
  if (d.filter.sort == SortKey::Newest) return "<h2>Recent results</h2>\n";
  if (d.filter.type.empty() || d.filter.channels.empty())  // a ranking with nothing to rank yet
    return "<h2>Ranking by " + std::string(SortName(d.filter.sort)) + "</h2>\n";
  std::string h = "<h2>" + MarkupEscape(KindLabel(d.filter.type, d.filter.channels)) +
                  " machines ranked by " + SortName(d.filter.sort) +
                  " <small>(each machine once with its latest result, at most " +
                  std::to_string(kRankedPerNetwork) + " of one network)</small></h2>\n";
  // Scores of different kinds are not comparable (four channels beat two whatever the machine),
  // so a ranking is always of one kind: with none chosen, the commonest one.
  if (d.kindChosen)
    h += "<p class=\"note chosen\">A ranking compares machines of one memory kind, so it shows the kind with "
         "the "
         "most results that fits your choice. Choose a memory type and channels above for another.</p>\n";
  return h;
}

std::string RowCells(const ResultRow& r) {
  std::string h = "<td><a href=\"" + ResultLink(r.id) + "\">Result " + std::to_string(r.id) + "</a><br>" +
                  MarkupEscape(UtcTime(r.receivedAt)) + "<br><small>run " + MarkupEscape(r.date) + " " +
                  MarkupEscape(r.time) + (r.country.empty() ? "" : " · " + MarkupEscape(r.country)) +
                  "</small></td>";
  h += "<td>" + MarkupEscape(r.cpu) + "<br><small>" + std::to_string(r.cpuCores) + " threads · " +
       std::to_string(r.cpuClockMHz) + " MHz<br>" + MarkupEscape(r.os) + "<br>" + MarkupEscape(r.mainboard) +
       "<br>version " + MarkupEscape(r.version) + "</small></td>";
  // A graded kit leads with its grade; the record's own text follows as it stands.
  const bool graded =
      !r.memType.empty() && !r.channels.empty() && !SpeedGrade(r.memType, r.memClockMHz).empty();
  if (graded)
    h += "<td class=\"mem\">" + MemoryLabelHtml(r.memType, r.channels, r.memClockMHz) + "<br><small>" +
         MarkupEscape(r.memory) + "<br>";
  else
    h += "<td class=\"mem\">" + MarkupEscape(r.memory) + "<br><small>";
  h += MarkupEscape(r.timings);
  for (const auto& m : r.ram)
    if (!m.empty() && m != "* - *" && m != "*") h += "<br>" + MarkupEscape(m);
  h += "</small></td>";
  h += "<td class=\"num\" data-label=\"READ MByte/s\">" + std::to_string(r.read) +
       "</td><td class=\"num\" data-label=\"WRITE MByte/s\">" + std::to_string(r.write) +
       "</td><td class=\"num\" data-label=\"COPY MByte/s\">" + std::to_string(r.copy) +
       "</td><td class=\"num\" data-label=\"LATENCY ns\">" +
       (r.latencyNs ? Fixed(*r.latencyNs, 1) : std::string("–")) +
       "</td><td class=\"num score\" data-label=\"Score GByte/s\">" + Fixed(r.score, 2) +
       "</td><td class=\"pic\">";
  if (r.picture) {
    const std::string src = "/pictures/" + MarkupEscape(*r.picture);
    h += "<a href=\"" + src + "\"><img class=\"shot\" loading=\"lazy\" alt=\"window picture\" src=\"" + src +
         "\"></a>";
  } else {
    h += "<small>no picture</small>";
  }
  return h + "</td>";
}

std::string ResultsTable(const PageData& d) {
  const bool ranked = d.filter.sort != SortKey::Newest;
  const bool oneKind = !d.filter.type.empty() && !d.filter.channels.empty();
  // Column heads of one kind rank by their figure.
  auto column = [&](SortKey key, const char* label) {
    if (!oneKind) return "<th>" + std::string(label) + "</th>";
    ResultFilter f = d.filter;
    f.sort = key;
    f.offset = 0;
    return "<th><a href=\"/?" + MarkupEscape(FilterQuery(f)) + "\">" + label + "</a></th>";
  };
  std::string t = "<table class=\"results cards\"><thead><tr><th>" +
                  std::string(ranked ? "Rank</th><th>" : "") +
                  "Uploaded (UTC)</th><th>System</th><th>Memory</th>" +
                  column(SortKey::Read, "READ MByte/s") + column(SortKey::Write, "WRITE MByte/s") +
                  column(SortKey::Copy, "COPY MByte/s") + column(SortKey::Latency, "LATENCY ns") +
                  column(SortKey::Score, "Score GByte/s") + "<th>Picture</th></tr></thead><tbody>\n";
  size_t place = d.filter.offset;
  for (const auto& r : d.rows) {
    t += "<tr>";
    if (ranked) t += "<td class=\"num\" data-label=\"Rank\">" + std::to_string(++place) + "</td>";
    t += RowCells(r) + "</tr>\n";
  }
  return Scrolling(t + "</tbody></table>");
}

std::string PageLinks(const PageData& d) {
  const bool ranked = d.filter.sort != SortKey::Newest;
  const std::string q = FilterQuery(d.filter);
  auto link = [&](const std::string& extra, const char* label) {
    return "<a href=\"/?" + MarkupEscape(Join(q, extra)) + "\">" + label + "</a>";
  };
  std::string h = "<nav class=\"pages\">";
  if (ranked) {
    if (d.filter.offset > 0)
      h += link(
          "offset=" + std::to_string(d.filter.offset > d.filter.limit ? d.filter.offset - d.filter.limit : 0),
          "Higher ranks");
    if (d.more) h += link("offset=" + std::to_string(d.filter.offset + d.filter.limit), "Lower ranks");
  } else {
    if (d.newer) h += link("after=" + std::to_string(d.rows.front().id), "Newer results");
    if (d.more) h += link("before=" + std::to_string(d.rows.back().id), "Older results");
  }
  std::string here = q;
  if (ranked && d.filter.offset) here = Join(here, "offset=" + std::to_string(d.filter.offset));
  if (!ranked && d.filter.beforeId) here = Join(here, "before=" + std::to_string(d.filter.beforeId));
  if (!ranked && d.filter.afterId) here = Join(here, "after=" + std::to_string(d.filter.afterId));
  return h + "<a href=\"/results.json?" + MarkupEscape(here) + "\">JSON</a><a href=\"/results.csv?" +
         MarkupEscape(here) + "\">CSV</a></nav>\n";
}

}  // namespace

std::string RenderResultsPage(const PageData& d) {
  std::string h;
  h.reserve(16384 + d.rows.size() * 1024);
  h += Head("Quorvex² results");
  h += Banner("Quorvex² results",
              std::to_string(d.total) + (d.total == 1 ? " result" : " results") + " uploaded");
  h += FilterForm(d);
  h += ReferenceTable(d);
  h += ListHeading(d);
  if (!d.filter.text.empty())
    h += "<p class=\"note\">The search looks through the newest " + std::to_string(kSearchedResults) +
         " results.</p>\n";
  if (!d.filter.type.empty() && !d.filter.channels.empty()) {
    ResultFilter kind;
    kind.type = d.filter.type;
    kind.channels = d.filter.channels;
    h += "<p class=\"note\"><a href=\"/kind?" + MarkupEscape(FilterQuery(kind)) +
         "\">Distribution and score against memory clock</a></p>\n";
  }
  if (d.cut)
    h += "<p class=\"note\">The search took too long and shows what it found in time; a longer search text "
         "finds faster.</p>\n";
  if (d.rows.empty())
    h += "<p class=\"empty\">No results to show.</p>\n";
  else
    h += ResultsTable(d) + PageLinks(d);
  return h + kPageEnd;
}

std::string RenderErrorPage(int status, std::string_view reason) {
  struct Known {
    int status;
    const char* title;
    const char* advice;
  };
  static const Known kKnown[] = {
      {400, "This address asks for something the site cannot show",
       "Check the address, or start again from "},
      {404, "Nothing here", "The result or page may never have existed. Start again from "},
      {405, "Not a way to ask for a page", "Start again from "},
      {429, "Too many requests from your network", "Wait a minute, then try again, or go to "},
      {431, "The request was too large", "Start again from "},
      {503, "Busy", "The server is busy; try again in a moment, or go to "},
  };
  const Known* k = nullptr;
  for (const Known& known : kKnown)
    if (known.status == status) k = &known;
  const std::string title = k ? k->title : status >= 500 ? "The server could not answer" : "Request refused";
  std::string h = Head("Quorvex² results: " + title);
  h += Banner("Quorvex² results", "error " + std::to_string(status));
  h += "<h2>" + MarkupEscape(title) + "</h2>\n<p class=\"reason\">" + MarkupEscape(reason) + "</p>\n";
  h += "<p>" + std::string(k ? k->advice : "Try again later, or go to ") +
       "<a href=\"/\">all results</a>.</p>\n";
  return h + kPageEnd;
}

std::string KindLabel(std::string_view type, std::string_view channels) {
  const auto count = ChannelCount(channels);
  const std::string key = MatchKey(channels);
  if (count && key.find_first_of("0123456789") == std::string::npos) {
    std::string word;
    for (char c : key) word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return std::string(type) + " " + word + "-channel";
  }
  return std::string(type) + ", " + std::string(channels) + " channels";
}

std::string RankText(const Rank& rank, std::string_view type, std::string_view channels) {
  return "faster than " + std::to_string(rank.percent()) + " % of " + KindLabel(type, channels) + " results";
}

namespace {

std::string RankParagraph(const ResultRow& r, const std::optional<Rank>& rank) {
  if (r.memType.empty() || r.channels.empty())
    return "<p class=\"rank\">The memory kind of this result could not be read, so it has no rank.</p>\n";
  if (!rank)
    return "<p class=\"rank\">Too few " + MarkupEscape(KindLabel(r.memType, r.channels)) +
           " machines yet for a rank (it takes " + std::to_string(kMinResultsForPercentiles) +
           " sending networks).</p>\n";
  return "<p class=\"rank\">Score " + Fixed(r.score, 2) +
         " GByte/s: " + MarkupEscape(RankText(*rank, r.memType, r.channels)) +
         " <small>(each sending network counted once, with the median of its machines; " +
         std::to_string(rank->others + 1) + " networks)</small></p>\n";
}

// Every field in the record's own order, under its own names.
std::string FieldsTable(const ResultRow& r) {
  std::array<std::string, contract::kRecordFieldCount> values = {
      r.date,
      r.time,
      r.os,
      r.cpu,
      r.memory,
      r.timings,
      r.mainboard,
      r.ram[0],
      r.ram[1],
      r.ram[2],
      r.ram[3],
      std::to_string(r.read) + " MByte/s",
      std::to_string(r.write) + " MByte/s",
      std::to_string(r.copy) + " MByte/s",
      r.latencyNs ? Fixed(*r.latencyNs, 1) + " ns" : std::string("not measured"),
      Fixed(r.score, 2) + " GByte/s",
      std::to_string(r.cpuClockMHz) + " MHz",
      // The IDHASH itself would let anyone speak for this machine; a keyed digest tells machines apart.
      "machine " + r.machine,
      r.country,
      // The uploader's temporary file name says nothing to a visitor: the field names the picture.
      r.picture ? "the window picture above" : "no picture came with the result",
      r.version,
      std::to_string(r.cpuCores),
  };
  const std::string grade = SpeedGrade(r.memType, r.memClockMHz);
  std::string t = "<table class=\"fields\"><tbody>\n";
  for (size_t i = 0; i < values.size(); ++i) {
    const bool graded = i == kMemory && !grade.empty();
    t += "<tr><th>" + MarkupEscape(contract::kRecordFieldNames[i]) + "</th><td" +
         (graded ? " title=\"" + MarkupEscape(ClockNote(grade, r.memClockMHz)) + "\"" : std::string()) + ">" +
         MarkupEscape(values[i]) +
         (graded ? " <small>(" + MarkupEscape(grade) + ")</small>" : std::string()) + "</td></tr>\n";
  }
  t += "<tr><th>Uploaded (UTC)</th><td>" + MarkupEscape(UtcTime(r.receivedAt)) + "</td></tr>\n";
  return "<h2>Every field of the record</h2>\n" + Scrolling(t + "</tbody></table>");
}

}  // namespace

std::string RenderResultPage(const ResultRow& r, const std::optional<Rank>& rank,
                             const CompareRanges& ranges) {
  std::string h = Head("Quorvex² result " + std::to_string(r.id));
  h += Banner("Result " + std::to_string(r.id) + ": " + Fixed(r.score, 2) + " GByte/s",
              "uploaded " + MarkupEscape(UtcTime(r.receivedAt)) + " UTC");
  const bool oneKind = !r.memType.empty() && !r.channels.empty();
  if (oneKind)
    h += "<p class=\"memory\">" + MemoryLabelHtml(r.memType, r.channels, r.memClockMHz) + " · " +
         MarkupEscape(r.cpu) + "</p>\n";
  h += RankParagraph(r, rank);
  h += "<p class=\"note\">Reference for this kind: score " + RangeText(ranges.score) +
       " GByte/s, memory clock " + RangeText(ranges.clock) + " MHz, latency " + RangeText(ranges.latency) +
       " ns.</p>\n";
  if (r.picture) {
    const std::string src = "/pictures/" + MarkupEscape(*r.picture);
    h += "<p><a href=\"" + src + "\"><img class=\"full\" alt=\"window picture of result " +
         std::to_string(r.id) + "\" src=\"" + src + "\"></a></p>\n";
  } else {
    h += "<p class=\"note\">No picture came with this result.</p>\n";
  }
  h += FieldsTable(r);
  h += "<nav class=\"pages\"><a href=\"/\">All results</a>";
  if (oneKind) {
    ResultFilter kind;
    kind.type = r.memType;
    kind.channels = r.channels;
    h += "<a href=\"/?" + MarkupEscape(FilterQuery(kind)) + "\">" +
         MarkupEscape(KindLabel(r.memType, r.channels)) + " results</a><a href=\"/kind?" +
         MarkupEscape(FilterQuery(kind)) + "\">" + MarkupEscape(KindLabel(r.memType, r.channels)) +
         " distribution</a>";
  }
  return h + "</nav>\n" + kPageEnd;
}

namespace {

// Each list row as named texts, in the order both downloads give them.
std::vector<std::pair<const char*, std::string>> RowFields(const ResultRow& r, const std::string& base,
                                                           std::vector<bool>* numeric) {
  std::string uploaded = UtcTime(r.receivedAt);
  uploaded[10] = 'T';
  uploaded += ":00Z";
  std::vector<std::pair<const char*, std::string>> f = {
      {"id", std::to_string(r.id)},
      {"uploaded_utc", uploaded},
      {"page", base + contract::kResultPagePrefix + std::to_string(r.id)},
      {"picture", r.picture ? base + "/pictures/" + *r.picture : std::string()},
      {"date", r.date},
      {"time", r.time},
      {"os", r.os},
      {"cpu", r.cpu},
      {"memory", r.memory},
      {"timings", r.timings},
      {"mainboard", r.mainboard},
      {"ram1", r.ram[0]},
      {"ram2", r.ram[1]},
      {"ram3", r.ram[2]},
      {"ram4", r.ram[3]},
      {"read_mbs", std::to_string(r.read)},
      {"write_mbs", std::to_string(r.write)},
      {"copy_mbs", std::to_string(r.copy)},
      {"latency_ns", r.latencyNs ? Fixed(*r.latencyNs, 1) : std::string()},
      {"score_gbs", Fixed(r.score, 2)},
      {"cpuclk_mhz", std::to_string(r.cpuClockMHz)},
      {"cpu_cores", std::to_string(r.cpuCores)},
      {"country", r.country},
      {"version", r.version},
      {"memory_type", r.memType},
      {"channels", r.channels},
      {"memory_clock_mhz", r.memClockMHz ? std::to_string(r.memClockMHz) : std::string()},
  };
  if (numeric) {
    numeric->assign(f.size(), false);
    for (size_t i = 0; i < f.size(); ++i) {
      const std::string name = f[i].first;
      (*numeric)[i] =
          !f[i].second.empty() &&
          (name == "id" || name.find("_mbs") != std::string::npos || name.find("_mhz") != std::string::npos ||
           name == "latency_ns" || name == "score_gbs" || name == "cpu_cores");
    }
  }
  return f;
}

std::string CsvCell(const std::string& text) {
  std::string cell = text;
  // A spreadsheet would run a cell that starts like a formula.
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos)
    cell = "'" + cell;
  std::string out = "\"";
  for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

// The markup characters as escapes: the document stays inert wherever it is pasted. They only
// ever stand inside strings, so replacing them after the dump keeps the JSON what it was.
std::string InertJson(const nlohmann::ordered_json& value) {
  const std::string text = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<')
      out += "\\u003c";
    else if (c == '>')
      out += "\\u003e";
    else if (c == '&')
      out += "\\u0026";
    else
      out += c;
  }
  return out;
}

std::string ResultsJson(const std::vector<ResultRow>& rows, const std::string& base, size_t maxBytes,
                        const std::function<std::string(size_t)>& next) {
  std::string out = "{\"results\":[";
  size_t written = 0;
  for (; written < rows.size(); ++written) {
    std::vector<bool> numeric;
    const auto fields = RowFields(rows[written], base, &numeric);
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    for (size_t k = 0; k < fields.size(); ++k) {
      const std::string_view name = fields[k].first;
      if (fields[k].second.empty() &&
          (name == "latency_ns" || name == "picture" || name == "memory_clock_mhz"))
        row[fields[k].first] = nullptr;
      else if (numeric[k] && fields[k].second.find('.') != std::string::npos)
        row[fields[k].first] = std::stod(fields[k].second);
      else if (numeric[k])
        row[fields[k].first] = std::stoll(fields[k].second);
      else
        row[fields[k].first] = fields[k].second;
    }
    const std::string text = (written ? ",\n" : "\n") + InertJson(row);
    if (written && out.size() + text.size() > maxBytes) break;
    out += text;
  }
  out += "\n]";
  const std::string more = next ? next(written) : std::string();
  if (!more.empty()) out += ",\"next\":" + InertJson(more);
  return out + "}\n";
}

std::string ResultsCsv(const std::vector<ResultRow>& rows, const std::string& base, size_t maxBytes,
                       size_t* written) {
  std::string out;
  const auto names = RowFields(ResultRow{}, base, nullptr);
  for (size_t k = 0; k < names.size(); ++k) out += (k ? "," : "") + std::string(names[k].first);
  out += "\r\n";
  size_t n = 0;
  for (; n < rows.size(); ++n) {
    const auto fields = RowFields(rows[n], base, nullptr);
    std::string line;
    for (size_t k = 0; k < fields.size(); ++k) line += (k ? "," : "") + CsvCell(fields[k].second);
    line += "\r\n";
    if (n && out.size() + line.size() > maxBytes) break;
    out += line;
  }
  if (written) *written = n;
  return out;
}

namespace {

// One chart axis: its ends sit on multiples of step, a 1-2-5 step of ten's powers.
struct Axis {
  double lo = 0, hi = 1, step = 1;
  int decimals = 0;
};

double NiceStep(double span, int ticks, bool whole) {
  const double raw = span / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double unit = raw / power;
  double step = (unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10) * power;
  if (whole) step = std::max(1.0, std::round(step));
  return step;
}

// An axis around lo..hi with room on both sides (pad, a share of the span), so no point sits on
// an axis line; from zero when zero is where the figure starts. whole: counts, integer ticks.
Axis MakeAxis(double lo, double hi, int ticks, double pad, bool fromZero, bool whole) {
  if (hi - lo < 1e-9) {  // one value: a span of its own size's few per cent
    const double room = std::max(whole ? 1.0 : 0.5, std::fabs(hi) * 0.03);
    lo -= room;
    hi += room;
  } else {
    const double room = (hi - lo) * pad;
    lo -= room;
    hi += room;
  }
  if (fromZero) lo = 0;
  Axis a;
  a.step = NiceStep(hi - lo, ticks, whole);
  a.lo = std::floor(lo / a.step) * a.step;
  a.hi = std::max(a.lo + a.step, std::ceil(hi / a.step) * a.step);
  if (!fromZero && lo >= 0) a.lo = std::max(0.0, a.lo);
  a.decimals = a.step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(a.step) - 1e-9));
  return a;
}

// A chart's frame: 600 by 300 units, scaled down with the page on a narrow screen (so its labels
// are large enough to read at two thirds of their size).
struct Plot {
  static constexpr int W = 600, H = 300, L = 62, R = 28, T = 14, B = 50;
  Axis x, y;
  double X(double v) const { return L + (W - L - R) * (v - x.lo) / (x.hi - x.lo); }
  double Y(double v) const { return H - B - (H - B - T) * (v - y.lo) / (y.hi - y.lo); }
};

std::string Num(double v, int decimals) {
  std::string s = Fixed(v, decimals);
  return s == "-0" ? "0" : s;
}

std::string ChartStart(const char* label) {
  return "<svg class=\"chart\" role=\"img\" aria-label=\"" + std::string(label) + "\" viewBox=\"0 0 " +
         std::to_string(Plot::W) + " " + std::to_string(Plot::H) + "\" width=\"" + std::to_string(Plot::W) +
         "\" height=\"" + std::to_string(Plot::H) + "\">";
}

// Grid lines and labels at every tick, then the two axis lines and their names.
std::string AxesSvg(const Plot& p, const char* xName, const char* yName) {
  std::string a;
  const int steps = static_cast<int>(std::lround((p.x.hi - p.x.lo) / p.x.step));
  for (int i = 0; i <= steps; ++i) {
    const double v = p.x.lo + i * p.x.step, x = p.X(v);
    a += "<line x1=\"" + Fixed(x, 1) + "\" y1=\"" + std::to_string(Plot::T) + "\" x2=\"" + Fixed(x, 1) +
         "\" y2=\"" + std::to_string(Plot::H - Plot::B) + "\" class=\"grid\"/>";
    a += "<text x=\"" + Fixed(x, 1) + "\" y=\"" + std::to_string(Plot::H - Plot::B + 19) +
         "\" font-size=\"14\" text-anchor=\"middle\">" + Num(v, p.x.decimals) + "</text>";
  }
  const int ySteps = static_cast<int>(std::lround((p.y.hi - p.y.lo) / p.y.step));
  for (int i = 0; i <= ySteps; ++i) {
    const double v = p.y.lo + i * p.y.step, y = p.Y(v);
    a += "<line x1=\"" + std::to_string(Plot::L) + "\" y1=\"" + Fixed(y, 1) + "\" x2=\"" +
         std::to_string(Plot::W - Plot::R) + "\" y2=\"" + Fixed(y, 1) + "\" class=\"grid\"/>";
    a += "<text x=\"" + std::to_string(Plot::L - 6) + "\" y=\"" + Fixed(y + 5, 1) +
         "\" font-size=\"14\" text-anchor=\"end\">" + Num(v, p.y.decimals) + "</text>";
  }
  a += "<line x1=\"" + std::to_string(Plot::L) + "\" y1=\"" + std::to_string(Plot::H - Plot::B) + "\" x2=\"" +
       std::to_string(Plot::W - Plot::R) + "\" y2=\"" + std::to_string(Plot::H - Plot::B) +
       "\" class=\"axis\"/>";
  a += "<line x1=\"" + std::to_string(Plot::L) + "\" y1=\"" + std::to_string(Plot::T) + "\" x2=\"" +
       std::to_string(Plot::L) + "\" y2=\"" + std::to_string(Plot::H - Plot::B) + "\" class=\"axis\"/>";
  const int mid = (Plot::T + Plot::H - Plot::B) / 2;
  a += "<text x=\"" + std::to_string((Plot::L + Plot::W - Plot::R) / 2) + "\" y=\"" +
       std::to_string(Plot::H - 6) + "\" font-size=\"14\" text-anchor=\"middle\">" + xName + "</text>";
  a += "<text x=\"16\" y=\"" + std::to_string(mid) + "\" font-size=\"14\" transform=\"rotate(-90 16 " +
       std::to_string(mid) + ")\" text-anchor=\"middle\">" + yName + "</text>";
  return a;
}

// The reference range as a shaded band across the plot, clipped to it; vertical for an x range.
std::string BandSvg(const Plot& p, const Range& r, bool vertical, const std::string& what) {
  const Axis& axis = vertical ? p.x : p.y;
  const double lo = std::max<double>(axis.lo, static_cast<double>(r.low));
  const double hi = std::min<double>(axis.hi, static_cast<double>(r.high));
  if (r.high <= r.low || hi <= lo) return {};
  std::string title = "<title>reference " + what + " " + RangeText(r) + "</title>";
  if (vertical)
    return "<rect class=\"band\" x=\"" + Fixed(p.X(lo), 1) + "\" y=\"" + std::to_string(Plot::T) +
           "\" width=\"" + Fixed(p.X(hi) - p.X(lo), 1) + "\" height=\"" +
           std::to_string(Plot::H - Plot::B - Plot::T) + "\">" + title + "</rect>";
  return "<rect class=\"band\" x=\"" + std::to_string(Plot::L) + "\" y=\"" + Fixed(p.Y(hi), 1) +
         "\" width=\"" + std::to_string(Plot::W - Plot::L - Plot::R) + "\" height=\"" +
         Fixed(p.Y(lo) - p.Y(hi), 1) + "\">" + title + "</rect>";
}

std::string BandNote(const char* what, const Range& r, const char* unit, size_t samples) {
  return std::string(what) + " " + RangeText(r) + " " + unit +
         (samples ? " (5th to 95th percentile of " + std::to_string(samples) + " networks)"
                  : std::string(" (the server's reference scale)"));
}

std::string ScoreChart(const KindData& d) {
  if (d.scores.bins.empty()) return "<p class=\"empty\">No results of this kind yet.</p>\n";
  const std::vector<size_t>& bins = d.scores.bins;
  const double lo = d.scores.lo, hi = d.scores.hi, width = (hi - lo) / static_cast<double>(bins.size());
  const size_t top = *std::max_element(bins.begin(), bins.end());
  Plot p;
  p.x = MakeAxis(lo, hi, 6, 0.03, false, false);
  p.y = MakeAxis(0, static_cast<double>(top), 5, 0.08, true, true);
  std::string h = ChartStart("distribution of scores") + BandSvg(p, d.ranges.score, true, "score");
  h += AxesSvg(p, "score GByte/s", "networks");
  for (size_t i = 0; i < bins.size(); ++i) {
    if (!bins[i]) continue;
    const double from = lo + width * static_cast<double>(i), to = from + width;
    const double x = p.X(from), w = p.X(to) - x, y = p.Y(static_cast<double>(bins[i]));
    h += "<rect class=\"bar\" x=\"" + Fixed(x + 0.5, 1) + "\" y=\"" + Fixed(y, 1) + "\" width=\"" +
         Fixed(std::max(1.0, w - 1), 1) + "\" height=\"" + Fixed(p.Y(0) - y, 1) + "\"><title>" +
         std::to_string(bins[i]) + (bins[i] == 1 ? " network, " : " networks, ") + Fixed(from, 1) + " to " +
         Fixed(to, 1) + " GByte/s</title></rect>";
  }
  h += "</svg>\n<p class=\"legend\"><span class=\"swatch\"></span>Shaded: the quick compare's " +
       BandNote("score range", d.ranges.score, "GByte/s", d.ranges.scoreSamples) + ".</p>\n";
  return h;
}

// A dashed line at each speed grade the points belong to, where its recorded figure lies.
std::string GradeMarks(const Plot& p, const KindData& d) {
  std::map<int, std::string> grades;
  for (const auto& point : d.points) {
    const std::string g = SpeedGrade(d.kind.type, static_cast<int>(std::lround(point.first)));
    if (!g.empty()) grades.emplace(std::stoi(g.substr(g.rfind('-') + 1)), g);
  }
  std::string h;
  double last = -1e9;
  for (const auto& [rate, name] : grades) {
    const double x = p.X(rate + 1);
    if (x - last < 90) continue;  // labels would overlap
    last = x;
    const double at = std::clamp(x, Plot::L + 40.0, Plot::W - Plot::R - 40.0);  // the label stays inside
    h += "<line class=\"mark\" x1=\"" + Fixed(x, 1) + "\" y1=\"" + std::to_string(Plot::T) + "\" x2=\"" +
         Fixed(x, 1) + "\" y2=\"" + std::to_string(Plot::H - Plot::B) + "\"/><text class=\"mark\" x=\"" +
         Fixed(at, 1) + "\" y=\"" + std::to_string(Plot::T + 13) +
         "\" font-size=\"13\" text-anchor=\"middle\">" + MarkupEscape(name) + "</text>";
  }
  return h;
}

std::string ClockChart(const KindData& d) {
  if (d.points.empty()) return "<p class=\"empty\">No results of this kind with a memory clock yet.</p>\n";
  double x0 = d.points[0].first, x1 = x0, y1 = 0;
  for (const auto& [x, y] : d.points) {
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
  }
  // The reference stays in view, so a visitor sees where the kind's usual machines lie.
  if (d.ranges.clock.high > d.ranges.clock.low) {
    x0 = std::min(x0, static_cast<double>(d.ranges.clock.low));
    x1 = std::max(x1, static_cast<double>(d.ranges.clock.high));
  }
  double y0 = y1;
  for (const auto& point : d.points) y0 = std::min(y0, point.second);
  if (d.ranges.score.high > d.ranges.score.low) {
    y0 = std::min(y0, static_cast<double>(d.ranges.score.low));
    y1 = std::max(y1, static_cast<double>(d.ranges.score.high));
  }
  Plot p;
  p.x = MakeAxis(x0, x1, 6, 0.05, false, true);
  p.y = MakeAxis(y0, y1, 5, 0.08, false, false);
  std::string h = ChartStart("score against memory clock") +
                  BandSvg(p, d.ranges.clock, true, "memory clock") +
                  BandSvg(p, d.ranges.score, false, "score");
  h += AxesSvg(p, "memory clock MHz (as recorded)", "score GByte/s") + GradeMarks(p, d);
  for (const auto& [x, y] : d.points) {
    const std::string grade = SpeedGrade(d.kind.type, static_cast<int>(std::lround(x)));
    h += "<circle class=\"dot\" cx=\"" + Fixed(p.X(x), 1) + "\" cy=\"" + Fixed(p.Y(y), 1) +
         "\" r=\"3\"><title>" + Num(x, 0) + " MHz" + (grade.empty() ? "" : " (" + MarkupEscape(grade) + ")") +
         ", " + Fixed(y, 2) + " GByte/s</title></circle>";
  }
  h += "</svg>\n<p class=\"legend\"><span class=\"swatch\"></span>Shaded: the quick compare's " +
       BandNote("memory clock range", d.ranges.clock, "MHz", d.ranges.clockSamples) + " and " +
       BandNote("score range", d.ranges.score, "GByte/s", d.ranges.scoreSamples) +
       ". <span title=\"The program counts twice the clock its hardware report gives, plus 1 MHz.\">The "
       "program records a memory clock 1 MHz above the data rate: a DDR4-3200 kit reads 3201 "
       "MHz.</span></p>\n";
  return h;
}

std::string KindLinks(const KindData& d) {
  ResultFilter f;
  f.type = d.kind.type;
  f.channels = d.kind.channels;
  std::string h = "<nav class=\"pages\"><a href=\"/\">All results</a><a href=\"/?" +
                  MarkupEscape(FilterQuery(f)) + "\">Newest of this kind</a>";
  for (SortKey k : {SortKey::Score, SortKey::Read, SortKey::Write, SortKey::Copy, SortKey::Latency}) {
    f.sort = k;
    h += "<a href=\"/?" + MarkupEscape(FilterQuery(f)) + "\">Ranking by " + SortName(k) + "</a>";
  }
  return h + "</nav>\n";
}

}  // namespace

std::string RenderKindPage(const KindData& d) {
  const std::string label = KindLabel(d.kind.type, d.kind.channels);
  std::string h = Head("Quorvex² " + label + " results");
  h += Banner(label, std::to_string(d.kind.count) + " results from " + std::to_string(d.kind.machines) +
                         " machines in " + std::to_string(d.kind.networks) + " sending networks");
  h += "<p class=\"note\">Reference: score " + RangeText(d.ranges.score) + " GByte/s, memory clock " +
       RangeText(d.ranges.clock) + " MHz, latency " + RangeText(d.ranges.latency) +
       " ns. Each sending network counts once, with the median of its machines' latest results.</p>\n";
  h += "<h2>Scores</h2>\n" + ScoreChart(d);
  h += "<h2>Score against memory clock</h2>\n" + ClockChart(d);
  return h + KindLinks(d) + kPageEnd;
}

std::string SpeedGrade(std::string_view type, int clockMHz) {
  // JEDEC's data rates (MT/s) per generation.
  static const std::pair<const char*, std::vector<int>> kGrades[] = {
      {"DDR2", {400, 533, 667, 800, 1066}},
      {"DDR3", {800, 1066, 1333, 1600, 1866, 2133}},
      {"DDR4", {1600, 1866, 2133, 2400, 2666, 2933, 3200}},
      {"DDR5", {3200, 3600, 4000, 4400, 4800, 5200, 5600, 6000, 6400, 6800, 7200, 7600, 8000, 8400, 8800}},
  };
  const std::string key = MatchKey(type);
  const int rate = clockMHz - 1;
  for (const auto& [family, grades] : kGrades) {
    if (key != family) continue;
    for (int g : grades)
      if (std::abs(rate - g) * 100 <= g) return key + "-" + std::to_string(g);
  }
  return {};
}

std::string RankJson(std::string_view type, std::string_view channels, const std::optional<MemoryKind>& kind,
                     double score, const std::optional<Rank>& rank) {
  const std::string t = kind ? kind->type : std::string(type),
                    c = kind ? kind->channels : std::string(channels);
  nlohmann::ordered_json j;
  j["type"] = t;
  j["channels"] = c;
  j["kind"] = KindLabel(t, c);
  j["score"] = score;
  j["floor"] = kMinResultsForPercentiles;
  if (rank) {
    j["percent"] = rank->percent();
    j["voices"] = rank->others;
    j["text"] = RankText(*rank, t, c);
  } else {
    const size_t networks = kind ? kind->networks : 0;
    j["percent"] = nullptr;
    j["voices"] = networks;
    j["error"] = "too few " + KindLabel(t, c) + " results for a rank: " + std::to_string(networks) +
                 (networks == 1 ? " sending network" : " sending networks") + ", it takes " +
                 std::to_string(kMinResultsForPercentiles);
  }
  return InertJson(j) + "\n";
}

}  // namespace qvserver
