#include "server/page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "app/core/server_contract.h"
#include "sysinfo/web_text.h"

namespace qvserver {

using sysinfo::MarkupEscape;
using sysinfo::UrlEncode;

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

std::string RenderResultsPage(const PageData& d) {
  std::string h;
  h.reserve(16384 + d.rows.size() * 1024);
  h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
       "<title>Quorvex² results</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n";
  h += "<header><h1>Quorvex² results</h1><p>" + std::to_string(d.total) +
       (d.total == 1 ? " result" : " results") + " uploaded</p></header>\n<main>\n";

  // Filter.
  h += "<form class=\"filter\" method=\"get\" action=\"/\">";
  h += "<label>Memory type<select name=\"type\">" + Option("", "any", d.filter.type.empty());
  std::vector<std::string> types, channels;
  auto addUnique = [](std::vector<std::string>& list, const std::string& v) {
    for (const auto& x : list)
      if (MatchKey(x) == MatchKey(v)) return;
    list.push_back(v);
  };
  for (const auto& k : d.kinds) {
    addUnique(types, k.type);
    addUnique(channels, k.channels);
  }
  if (!d.filter.type.empty()) addUnique(types, d.filter.type);
  if (!d.filter.channels.empty()) addUnique(channels, d.filter.channels);
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
  h += "</form>\n";

  // Reference ranges, the same the quick compare gets.
  h += "<h2>Reference ranges</h2>\n";
  if (d.references.empty()) {
    h += "<p class=\"note\">No results for this choice yet.</p>\n";
  } else {
    h += "<table><thead><tr><th>Memory</th><th>Channels</th><th>Results</th><th>Score GByte/s</th>"
         "<th>Memory clock MHz</th><th>Latency ns</th></tr></thead><tbody>\n";
    for (const auto& kr : d.references) {
      auto cell = [](const Range& r, size_t samples) {
        return "<td class=\"num\">" + RangeText(r) + "<br><small>" +
               (samples ? "5th–95th pct of " + std::to_string(samples) : std::string("reference")) +
               "</small></td>";
      };
      ResultFilter only;
      only.type = kr.kind.type;
      only.channels = kr.kind.channels;
      h += "<tr><td><a href=\"/?" + MarkupEscape(FilterQuery(only)) + "\">" + MarkupEscape(kr.kind.type) +
           "</a></td><td>" + MarkupEscape(kr.kind.channels) + "</td><td class=\"num\">" +
           std::to_string(kr.kind.count) + "</td>" + cell(kr.ranges.score, kr.ranges.scoreSamples) +
           cell(kr.ranges.clock, kr.ranges.clockSamples) + cell(kr.ranges.latency, kr.ranges.latencySamples) +
           "</tr>\n";
    }
    h += "</tbody></table>\n<p class=\"note\">Percentiles are used once " +
         std::to_string(kMinResultsForPercentiles) +
         " results of a kind carry the figure; before that the server's own reference scale is shown.</p>\n";
  }

  // Results.
  const bool ranked = d.filter.sort != SortKey::Newest;
  const bool oneKind = !d.filter.type.empty() && !d.filter.channels.empty();
  if (ranked)
    h += "<h2>" + MarkupEscape(KindLabel(d.filter.type, d.filter.channels)) + " machines ranked by " +
         SortName(d.filter.sort) + " <small>(each machine once with its latest result, at most " +
         std::to_string(kRankedPerNetwork) + " of one network)</small></h2>\n";
  else
    h += "<h2>Recent results</h2>\n";
  if (!d.filter.text.empty())
    h += "<p class=\"note\">The search looks through the newest " + std::to_string(kSearchedResults) +
         " results.</p>\n";
  if (oneKind) {
    ResultFilter kind;
    kind.type = d.filter.type;
    kind.channels = d.filter.channels;
    h += "<p class=\"note\"><a href=\"/kind?" + MarkupEscape(FilterQuery(kind)) +
         "\">Distribution and score against memory clock</a></p>\n";
  }
  // Column heads of one kind rank by their figure.
  auto column = [&](SortKey key, const char* label) {
    if (!oneKind) return "<th>" + std::string(label) + "</th>";
    ResultFilter f = d.filter;
    f.sort = key;
    return "<th><a href=\"/?" + MarkupEscape(FilterQuery(f)) + "\">" + label + "</a></th>";
  };
  if (d.cut)
    h += "<p class=\"note\">The search took too long and shows what it found in time; a longer search text "
         "finds faster.</p>\n";
  if (d.rows.empty()) {
    h += "<p class=\"empty\">No results to show.</p>\n";
  } else {
    h += "<table><thead><tr><th>" + std::string(ranked ? "Rank</th><th>" : "") +
         "Uploaded (UTC)</th><th>System</th><th>Memory</th>" + column(SortKey::Read, "READ MByte/s") +
         column(SortKey::Write, "WRITE MByte/s") + column(SortKey::Copy, "COPY MByte/s") +
         column(SortKey::Latency, "LATENCY ns") + column(SortKey::Score, "Score GByte/s") +
         "<th>Picture</th></tr></thead><tbody>\n";
    size_t place = d.filter.offset;
    for (const auto& r : d.rows) {
      h += "<tr>";
      if (ranked) h += "<td class=\"num\">" + std::to_string(++place) + "</td>";
      h += "<td><a href=\"" + std::string(contract::kResultPagePrefix) + std::to_string(r.id) + "\">Result " +
           std::to_string(r.id) + "</a><br>" + MarkupEscape(UtcTime(r.receivedAt)) + "<br><small>run " +
           MarkupEscape(r.date) + " " + MarkupEscape(r.time) +
           (r.country.empty() ? "" : " · " + MarkupEscape(r.country)) + "</small></td>";
      h += "<td>" + MarkupEscape(r.cpu) + "<br><small>" + std::to_string(r.cpuCores) + " threads · " +
           std::to_string(r.cpuClockMHz) + " MHz<br>" + MarkupEscape(r.os) + "<br>" +
           MarkupEscape(r.mainboard) + "<br>version " + MarkupEscape(r.version) + "</small></td>";
      h += "<td>" + MarkupEscape(r.memory) + "<br><small>" + MarkupEscape(r.timings);
      for (const auto& m : r.ram)
        if (!m.empty() && m != "* - *" && m != "*") h += "<br>" + MarkupEscape(m);
      h += "</small></td>";
      h += "<td class=\"num\">" + std::to_string(r.read) + "</td><td class=\"num\">" +
           std::to_string(r.write) + "</td><td class=\"num\">" + std::to_string(r.copy) +
           "</td><td class=\"num\">" + (r.latencyNs ? Fixed(*r.latencyNs, 1) : std::string("–")) +
           "</td><td class=\"num score\">" + Fixed(r.score, 2) + "</td><td>";
      if (r.picture) {
        const std::string src = "/pictures/" + MarkupEscape(*r.picture);
        h += "<a href=\"" + src + "\"><img class=\"shot\" loading=\"lazy\" alt=\"window picture\" src=\"" +
             src + "\"></a>";
      } else {
        h += "<small>none</small>";
      }
      h += "</td></tr>\n";
    }
    h += "</tbody></table>\n";
    const std::string q = FilterQuery(d.filter);
    auto link = [&](const std::string& extra, const char* label) {
      return "<a href=\"/?" + MarkupEscape(Join(q, extra)) + "\">" + label + "</a>";
    };
    h += "<nav class=\"pages\">";
    if (ranked) {
      if (d.filter.offset > 0)
        h += link("offset=" +
                      std::to_string(d.filter.offset > d.filter.limit ? d.filter.offset - d.filter.limit : 0),
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
    h += "<a href=\"/results.json?" + MarkupEscape(here) + "\">JSON</a><a href=\"/results.csv?" +
         MarkupEscape(here) + "\">CSV</a></nav>\n";
  }
  h += "</main></body></html>\n";
  return h;
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

std::string RenderResultPage(const ResultRow& r, const std::optional<Rank>& rank,
                             const CompareRanges& ranges) {
  std::string h = Head("Quorvex² result " + std::to_string(r.id));
  h += "<header><h1>Result " + std::to_string(r.id) + ": " + Fixed(r.score, 2) + " GByte/s</h1><p>uploaded " +
       MarkupEscape(UtcTime(r.receivedAt)) + " UTC</p></header>\n<main>\n";
  if (r.memType.empty() || r.channels.empty()) {
    h += "<p class=\"rank\">The memory kind of this result could not be read, so it has no rank.</p>\n";
  } else if (rank) {
    h += "<p class=\"rank\">Score " + Fixed(r.score, 2) +
         " GByte/s: " + MarkupEscape(RankText(*rank, r.memType, r.channels)) +
         " <small>(each sending network counted once, with the median of its machines; " +
         std::to_string(rank->others + 1) + " networks)</small></p>\n";
  } else {
    h += "<p class=\"rank\">Too few " + MarkupEscape(KindLabel(r.memType, r.channels)) +
         " machines yet for a rank (it takes " + std::to_string(kMinResultsForPercentiles) +
         " sending networks).</p>\n";
  }
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
  // In the record's own order, under its own names.
  const std::array<std::string, contract::kRecordFieldCount> values = {
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
      r.benImage,
      r.version,
      std::to_string(r.cpuCores),
  };
  h += "<h2>Every field of the record</h2>\n<table class=\"fields\"><tbody>\n";
  for (size_t i = 0; i < values.size(); ++i)
    h += "<tr><th>" + MarkupEscape(contract::kRecordFieldNames[i]) + "</th><td>" + MarkupEscape(values[i]) +
         "</td></tr>\n";
  h += "<tr><th>Uploaded (UTC)</th><td>" + MarkupEscape(UtcTime(r.receivedAt)) + "</td></tr>\n";
  h += "</tbody></table>\n";
  ResultFilter kind;
  kind.type = r.memType;
  kind.channels = r.channels;
  h += "<nav class=\"pages\"><a href=\"/\">All results</a>";
  if (!r.memType.empty() && !r.channels.empty())
    h += "<a href=\"/?" + MarkupEscape(FilterQuery(kind)) + "\">" +
         MarkupEscape(KindLabel(r.memType, r.channels)) + " results</a>";
  h += "</nav>\n</main></body></html>\n";
  return h;
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

std::string RenderKindPage(const KindData& d) {
  const std::string label = KindLabel(d.kind.type, d.kind.channels);
  std::string h = Head("Quorvex² " + label + " results");
  h += "<header><h1>" + MarkupEscape(label) + "</h1><p>" + std::to_string(d.kind.count) + " results from " +
       std::to_string(d.kind.machines) + " machines in " + std::to_string(d.kind.networks) +
       " sending networks</p></header>\n<main>\n";
  h += "<p class=\"note\">Reference: score " + RangeText(d.ranges.score) + " GByte/s, memory clock " +
       RangeText(d.ranges.clock) + " MHz, latency " + RangeText(d.ranges.latency) +
       " ns. Each sending network counts once, with the median of its machines' latest results.</p>\n";
  constexpr int W = 640, H = 260, L = 48, R = 12, T = 12, B = 36;
  auto axis = [&](double lo, double hi, const char* xName, const char* yName, double ylo, double yhi) {
    std::string a = "<line x1=\"" + std::to_string(L) + "\" y1=\"" + std::to_string(H - B) + "\" x2=\"" +
                    std::to_string(W - R) + "\" y2=\"" + std::to_string(H - B) + "\" stroke=\"#5b6775\"/>";
    a += "<line x1=\"" + std::to_string(L) + "\" y1=\"" + std::to_string(T) + "\" x2=\"" + std::to_string(L) +
         "\" y2=\"" + std::to_string(H - B) + "\" stroke=\"#5b6775\"/>";
    for (int i = 0; i <= 4; ++i) {
      const double x = L + (W - L - R) * i / 4.0, y = H - B - (H - B - T) * i / 4.0;
      a += "<text x=\"" + Fixed(x, 1) + "\" y=\"" + std::to_string(H - B + 14) +
           "\" font-size=\"10\" text-anchor=\"middle\">" + Fixed(lo + (hi - lo) * i / 4.0, 0) + "</text>";
      a += "<text x=\"" + std::to_string(L - 4) + "\" y=\"" + Fixed(y + 3, 1) +
           "\" font-size=\"10\" text-anchor=\"end\">" + Fixed(ylo + (yhi - ylo) * i / 4.0, 0) + "</text>";
    }
    a += "<text x=\"" + std::to_string((L + W - R) / 2) + "\" y=\"" + std::to_string(H - 6) +
         "\" font-size=\"11\" text-anchor=\"middle\">" + xName + "</text>";
    a += "<text x=\"12\" y=\"" + std::to_string((T + H - B) / 2) +
         "\" font-size=\"11\" transform=\"rotate(-90 12 " + std::to_string((T + H - B) / 2) +
         ")\" text-anchor=\"middle\">" + yName + "</text>";
    return a;
  };

  h += "<h2>Scores</h2>\n";
  if (d.scores.bins.empty()) {
    h += "<p class=\"empty\">No results of this kind yet.</p>\n";
  } else {
    const std::vector<size_t>& bins = d.scores.bins;
    const int kBins = static_cast<int>(bins.size());
    const double lo = d.scores.lo, hi = d.scores.hi;
    const size_t top = *std::max_element(bins.begin(), bins.end());
    h += "<svg class=\"chart\" role=\"img\" aria-label=\"distribution of scores\" viewBox=\"0 0 " +
         std::to_string(W) + " " + std::to_string(H) + "\" width=\"" + std::to_string(W) + "\" height=\"" +
         std::to_string(H) + "\">";
    h += axis(lo, hi, "score GByte/s", "networks", 0, static_cast<double>(top));
    const double bw = static_cast<double>(W - L - R) / kBins;
    for (int i = 0; i < kBins; ++i) {
      if (!bins[i]) continue;
      const double bh = static_cast<double>(H - B - T) * bins[i] / top;
      h += "<rect x=\"" + Fixed(L + i * bw + 1, 1) + "\" y=\"" + Fixed(H - B - bh, 1) + "\" width=\"" +
           Fixed(bw - 2, 1) + "\" height=\"" + Fixed(bh, 1) + "\" fill=\"#004080\"><title>" +
           std::to_string(bins[i]) + " networks, " + Fixed(lo + (hi - lo) * i / kBins, 1) + " to " +
           Fixed(lo + (hi - lo) * (i + 1) / kBins, 1) + " GByte/s</title></rect>";
    }
    h += "</svg>\n";
  }

  h += "<h2>Score against memory clock</h2>\n";
  if (d.points.empty()) {
    h += "<p class=\"empty\">No results of this kind with a memory clock yet.</p>\n";
  } else {
    double x0 = d.points[0].first, x1 = x0, y1 = 0;
    for (const auto& [x, y] : d.points) {
      x0 = std::min(x0, x);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
    x0 = std::floor(x0 / 100) * 100;
    x1 = std::max(x0 + 100, std::ceil(x1 / 100) * 100);
    y1 = std::max(1.0, std::ceil(y1));
    h += "<svg class=\"chart\" role=\"img\" aria-label=\"score against memory clock\" viewBox=\"0 0 " +
         std::to_string(W) + " " + std::to_string(H) + "\" width=\"" + std::to_string(W) + "\" height=\"" +
         std::to_string(H) + "\">";
    h += axis(x0, x1, "memory clock MHz", "score GByte/s", 0, y1);
    for (const auto& [x, y] : d.points)
      h += "<circle cx=\"" + Fixed(L + (W - L - R) * (x - x0) / (x1 - x0), 1) + "\" cy=\"" +
           Fixed(H - B - (H - B - T) * y / y1, 1) + "\" r=\"2.5\" fill=\"#004080\" fill-opacity=\"0.6\"/>";
    h += "</svg>\n";
  }
  ResultFilter f;
  f.type = d.kind.type;
  f.channels = d.kind.channels;
  h += "<nav class=\"pages\"><a href=\"/\">All results</a><a href=\"/?" + MarkupEscape(FilterQuery(f)) +
       "\">Newest of this kind</a>";
  for (SortKey k : {SortKey::Score, SortKey::Read, SortKey::Write, SortKey::Copy, SortKey::Latency}) {
    f.sort = k;
    h += "<a href=\"/?" + MarkupEscape(FilterQuery(f)) + "\">Ranking by " + SortName(k) + "</a>";
  }
  h += "</nav>\n</main></body></html>\n";
  return h;
}

}  // namespace qvserver
