#include "server/page.h"

#include <cstdio>
#include <ctime>

namespace qvserver {

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
nav.pages { margin-top: 12px; }
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

std::string RangeText(const Range& r) { return std::to_string(r.low) + " – " + std::to_string(r.high); }

std::string Option(std::string_view value, std::string_view label, bool selected) {
  return "<option value=\"" + HtmlEscape(value) + "\"" + (selected ? " selected" : "") + ">" +
         HtmlEscape(label) + "</option>";
}

std::string FilterQuery(const ResultFilter& f) {
  std::string q;
  if (!f.type.empty()) q += "type=" + UrlEncode(f.type);
  if (!f.channels.empty()) q += std::string(q.empty() ? "" : "&") + "channels=" + UrlEncode(f.channels);
  return q;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        // Stored texts carry no control characters, but a query string might.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
          out += ' ';
        else
          out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
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
  h += "</select></label><button type=\"submit\">Show</button>";
  if (!d.filter.type.empty() || !d.filter.channels.empty()) h += " <a href=\"/\">all results</a>";
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
      h += "<tr><td><a href=\"/?" + HtmlEscape(FilterQuery(only)) + "\">" + HtmlEscape(kr.kind.type) +
           "</a></td><td>" + HtmlEscape(kr.kind.channels) + "</td><td class=\"num\">" +
           std::to_string(kr.kind.count) + "</td>" + cell(kr.ranges.score, kr.ranges.scoreSamples) +
           cell(kr.ranges.clock, kr.ranges.clockSamples) + cell(kr.ranges.latency, kr.ranges.latencySamples) +
           "</tr>\n";
    }
    h += "</tbody></table>\n<p class=\"note\">Percentiles are used once " +
         std::to_string(kMinResultsForPercentiles) +
         " results of a kind carry the figure; before that the server's own reference scale is shown.</p>\n";
  }

  // Results.
  h += "<h2>Recent results</h2>\n";
  if (d.rows.empty()) {
    h += "<p class=\"empty\">No results to show.</p>\n";
  } else {
    h +=
        "<table><thead><tr><th>Uploaded (UTC)</th><th>System</th><th>Memory</th><th>READ MByte/s</th>"
        "<th>WRITE MByte/s</th><th>COPY MByte/s</th><th>LATENCY ns</th><th>Score GByte/s</th><th>Picture</th>"
        "</tr></thead><tbody>\n";
    for (const auto& r : d.rows) {
      h += "<tr><td>" + HtmlEscape(UtcTime(r.receivedAt)) + "<br><small>run " + HtmlEscape(r.date) + " " +
           HtmlEscape(r.time) + (r.country.empty() ? "" : " · " + HtmlEscape(r.country)) + "</small></td>";
      h += "<td>" + HtmlEscape(r.cpu) + "<br><small>" + std::to_string(r.cpuCores) + " threads · " +
           std::to_string(r.cpuClockMHz) + " MHz<br>" + HtmlEscape(r.os) + "<br>" + HtmlEscape(r.mainboard) +
           "<br>version " + HtmlEscape(r.version) + "</small></td>";
      h += "<td>" + HtmlEscape(r.memory) + "<br><small>" + HtmlEscape(r.timings);
      for (const auto& m : r.ram)
        if (!m.empty() && m != "* - *" && m != "*") h += "<br>" + HtmlEscape(m);
      h += "</small></td>";
      h += "<td class=\"num\">" + std::to_string(r.read) + "</td><td class=\"num\">" +
           std::to_string(r.write) + "</td><td class=\"num\">" + std::to_string(r.copy) +
           "</td><td class=\"num\">" + (r.latencyNs ? Fixed(*r.latencyNs, 1) : std::string("–")) +
           "</td><td class=\"num score\">" + Fixed(r.score, 2) + "</td><td>";
      if (r.picture) {
        const std::string src = "/pictures/" + HtmlEscape(*r.picture);
        h += "<a href=\"" + src + "\"><img class=\"shot\" loading=\"lazy\" alt=\"window picture\" src=\"" +
             src + "\"></a>";
      } else {
        h += "<small>none</small>";
      }
      h += "</td></tr>\n";
    }
    h += "</tbody></table>\n";
    if (d.more) {
      std::string q = FilterQuery(d.filter);
      q += std::string(q.empty() ? "" : "&") + "before=" + std::to_string(d.rows.back().id);
      h += "<nav class=\"pages\"><a href=\"/?" + HtmlEscape(q) + "\">Older results</a></nav>\n";
    }
  }
  h += "</main></body></html>\n";
  return h;
}

}  // namespace qvserver
