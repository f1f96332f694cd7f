#include "server/record.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace qvserver {

namespace {

// The program's texts are panel lines of a few dozen characters; this leaves room for the longest
// a report gives and keeps one stored result small for every page, search and download.
constexpr size_t kMaxTextField = 160;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whole numbers as NumericText leaves them: digits only.
std::optional<long long> WholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  for (char c : text)
    if (!IsDigit(c)) return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Decimal numbers with "." as the point ("65.5", "10.39", "0").
std::optional<double> DecimalNumber(std::string_view text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  size_t points = 0, digits = 0;
  for (char c : text) {
    if (c == '.')
      ++points;
    else if (IsDigit(c))
      ++digits;
    else
      return std::nullopt;
  }
  if (points > 1 || digits == 0 || text.front() == '.' || text.back() == '.') return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool ValidDate(std::string_view d) {
  if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!IsDigit(d[i])) return false;
  const int y = (d[0] - '0') * 1000 + (d[1] - '0') * 100 + (d[2] - '0') * 10 + (d[3] - '0');
  const int m = (d[5] - '0') * 10 + (d[6] - '0');
  const int day = (d[8] - '0') * 10 + (d[9] - '0');
  if (y < 1970 || y > 2999 || m < 1 || m > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > kDays[m - 1]) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return !(m == 2 && day == 29 && !leap);
}

bool IsHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Tab is the only control character a panel text may carry.
bool HasControlBytes(std::string_view text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  return false;
}

std::string HeaderLine() {
  std::string line;
  for (const char* name : kRecordFieldNames) {
    line += '"';
    line += name;
    line += "\";";
  }
  return line;
}

// Splits a data line into its quoted values. Values are written unescaped, so a value holding
// the three characters "; " splits into extra fields and the count tells.
bool SplitDataLine(std::string_view line, std::vector<std::string_view>* values) {
  if (line.size() < 3 || line.front() != '"' || line.substr(line.size() - 2) != "\";") return false;
  std::string_view inner = line.substr(1, line.size() - 3);
  values->clear();
  for (;;) {
    const size_t cut = inner.find("\";\"");
    if (cut == std::string_view::npos) {
      values->push_back(inner);
      return true;
    }
    values->push_back(inner.substr(0, cut));
    inner.remove_prefix(cut + 3);
  }
}

std::string Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return {};
}

}  // namespace

namespace {

// The code point at text[i] of valid UTF-8, and its length.
uint32_t Decode(std::string_view text, size_t i, size_t* len) {
  const unsigned char c = text[i];
  *len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
  if (i + *len > text.size()) {
    *len = 1;
    return c;
  }
  uint32_t cp = *len == 1 ? c : *len == 2 ? (c & 0x1f) : *len == 3 ? (c & 0x0f) : (c & 0x07);
  for (size_t k = 1; k < *len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
  return cp;
}

// Unicode's format characters (category Cf): invisible, and able to turn a text around or split
// one kind into two that look the same.
bool IsFormatCharacter(uint32_t cp) {
  return cp == 0xad || (cp >= 0x600 && cp <= 0x605) || cp == 0x61c || cp == 0x6dd || cp == 0x70f ||
         cp == 0x8e2 || cp == 0x180e || (cp >= 0x200b && cp <= 0x200f) || (cp >= 0x202a && cp <= 0x202e) ||
         (cp >= 0x2060 && cp <= 0x2064) || (cp >= 0x2066 && cp <= 0x206f) || cp == 0xfeff ||
         (cp >= 0xfff9 && cp <= 0xfffb) || cp == 0x110bd || cp == 0x110cd ||
         (cp >= 0x13430 && cp <= 0x1343f) || (cp >= 0x1bca0 && cp <= 0x1bca3) ||
         (cp >= 0x1d173 && cp <= 0x1d17a) || cp == 0xe0001 || (cp >= 0xe0020 && cp <= 0xe007f);
}

// The ASCII letter, digit or sign a character is drawn like, or 0: Latin look-alikes from the
// Cyrillic and Greek capitals, full-width forms, dashes and the other blanks.
char LookAlike(uint32_t cp) {
  if (cp >= 0xff01 && cp <= 0xff5e) return static_cast<char>(cp - 0xff01 + 0x21);
  if (cp == 0xa0 || (cp >= 0x2000 && cp <= 0x200a) || cp == 0x202f || cp == 0x205f || cp == 0x3000)
    return ' ';
  if ((cp >= 0x2010 && cp <= 0x2015) || cp == 0x2212) return '-';
  static constexpr std::pair<uint32_t, char> kLike[] = {
      {0x391, 'A'}, {0x392, 'B'}, {0x395, 'E'}, {0x396, 'Z'}, {0x397, 'H'}, {0x399, 'I'}, {0x39a, 'K'},
      {0x39c, 'M'}, {0x39d, 'N'}, {0x39f, 'O'}, {0x3a1, 'P'}, {0x3a4, 'T'}, {0x3a5, 'Y'}, {0x3a7, 'X'},
      {0x3bf, 'O'}, {0x405, 'S'}, {0x406, 'I'}, {0x408, 'J'}, {0x410, 'A'}, {0x412, 'B'}, {0x415, 'E'},
      {0x41a, 'K'}, {0x41c, 'M'}, {0x41d, 'H'}, {0x41e, 'O'}, {0x420, 'P'}, {0x421, 'C'}, {0x422, 'T'},
      {0x425, 'X'}, {0x430, 'A'}, {0x435, 'E'}, {0x43e, 'O'}, {0x440, 'P'}, {0x441, 'C'}, {0x443, 'Y'},
      {0x445, 'X'}, {0x455, 'S'}, {0x456, 'I'}, {0x458, 'J'}, {0x4ae, 'Y'}};
  for (const auto& [from, to] : kLike)
    if (cp == from) return to;
  return 0;
}

}  // namespace

std::string StripFormatCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t len;
    const uint32_t cp = Decode(text, i, &len);
    if (!IsFormatCharacter(cp)) out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

std::string MatchKey(std::string_view text) {
  std::string folded;
  for (size_t i = 0; i < text.size();) {
    size_t len;
    const uint32_t cp = Decode(text, i, &len);
    if (const char like = LookAlike(cp))
      folded += like;
    else if (!IsFormatCharacter(cp))
      folded.append(text.substr(i, len));
    i += len;
  }
  const std::string trimmed = text::Trim(folded);
  std::string key;
  bool blank = false;
  for (char c : trimmed) {
    if (text::IsBlankCode(c)) {
      blank = true;
      continue;
    }
    if (blank) key += ' ';
    blank = false;
    key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  return key;
}

std::string ToUtf8(std::string_view text) {
  // Validate first: most uploads already are UTF-8 and stay byte for byte as sent.
  bool valid = true;
  for (size_t i = 0; i < text.size() && valid;) {
    const unsigned char c = text[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
      valid = false;
      break;
    }
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1f) : len == 3 ? (c & 0x0f) : (c & 0x07);
    for (size_t k = 1; k < len; ++k) {
      const unsigned char cc = text[i + k];
      if ((cc >> 6) != 2) valid = false;
      cp = (cp << 6) | (cc & 0x3f);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (cp < kMin[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))) valid = false;
    i += len;
  }
  if (valid) return std::string(text);

  static constexpr uint16_t kCp1252[32] = {0x20ac, 0xfffd, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                           0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0xfffd, 0x017d, 0xfffd,
                                           0xfffd, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                           0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0xfffd, 0x017e, 0x0178};
  std::string out;
  for (unsigned char c : text) {
    const uint32_t cp = c < 0x80 ? c : c < 0xa0 ? kCp1252[c - 0x80] : c;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xc0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
      out += static_cast<char>(0xe0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (cp & 0x3f));
    }
  }
  return out;
}

MemoryFacts ParseMemoryPanel(std::string_view panel) {
  // size - type - clock MHz - channels Channel; the size and type never hold " - ".
  std::vector<std::string> parts;
  for (;;) {
    const size_t cut = panel.find(" - ");
    parts.push_back(text::Trim(panel.substr(0, cut)));
    if (cut == std::string_view::npos) break;
    panel.remove_prefix(cut + 3);
  }
  MemoryFacts facts;
  if (parts.size() < 4) return facts;
  const size_t n = parts.size();

  std::string channels = parts[n - 1];
  constexpr std::string_view kChannel = "Channel";
  if (channels.size() >= kChannel.size() &&
      MatchKey(channels.substr(channels.size() - kChannel.size())) == "CHANNEL")
    channels = text::Trim(channels.substr(0, channels.size() - kChannel.size()));
  std::string clock = parts[n - 2];
  if (clock.size() >= 3 && MatchKey(clock.substr(clock.size() - 3)) == "MHZ")
    clock = text::Trim(clock.substr(0, clock.size() - 3));
  const std::string& type = parts[n - 3];

  auto missing = [](const std::string& t) { return t.empty() || t == "*" || t == "unknown"; };
  if (!missing(type)) facts.type = type;
  if (!missing(channels)) facts.channels = channels;
  if (auto mhz = WholeNumber(clock); mhz && *mhz > 0 && *mhz < 100000)
    facts.clockMHz = static_cast<int>(*mhz);
  return facts;
}

std::optional<UploadedRecord> ParseRecordFile(std::string_view bytes, std::string* error) {
  auto fail = [&](std::string message) -> std::optional<UploadedRecord> {
    Fail(error, std::move(message));
    return std::nullopt;
  };
  if (bytes.size() > kMaxRecordBytes) return fail("record file larger than 16 KiB");
  if (bytes.empty()) return fail("record file is empty");

  const size_t firstEnd = bytes.find("\r\n");
  if (firstEnd == std::string_view::npos) return fail("record file lines must end with CR LF");
  const std::string_view header = bytes.substr(0, firstEnd);
  std::string_view rest = bytes.substr(firstEnd + 2);
  const size_t secondEnd = rest.find("\r\n");
  if (secondEnd == std::string_view::npos) return fail("record file needs one data line ended by CR LF");
  const std::string_view data = rest.substr(0, secondEnd);
  if (secondEnd + 2 != rest.size()) return fail("record file must hold exactly one data line");

  if (header != HeaderLine()) return fail("record header line is not the 22 field names");
  if (data.find('\r') != std::string_view::npos || data.find('\n') != std::string_view::npos ||
      HasControlBytes(data))
    return fail("record data line holds control characters");

  std::vector<std::string_view> values;
  if (!SplitDataLine(data, &values)) return fail("record data line is not a list of quoted fields");
  if (values.size() != kRecordFields)
    return fail("record data line has " + std::to_string(values.size()) + " fields, not 22");

  UploadedRecord record;
  for (size_t i = 0; i < kRecordFields; ++i) {
    if (values[i].size() > kMaxTextField)
      return fail(std::string(kRecordFieldNames[i]) + " is longer than " + std::to_string(kMaxTextField) +
                  " bytes");
    record.fields[i] = StripFormatCharacters(ToUtf8(values[i]));
  }
  const auto& f = record.fields;

  if (!ValidDate(f[kDate])) return fail("DATE is not a date written yyyy-mm-dd");
  if (f[kTime].empty() || f[kTime].size() > 32) return fail("TIME is empty or too long");

  struct Bandwidth {
    RecordField field;
    long long* out;
  };
  for (const Bandwidth& b :
       {Bandwidth{kRead, &record.read}, Bandwidth{kWrite, &record.write}, Bandwidth{kCopy, &record.copy}}) {
    const char* name = kRecordFieldNames[b.field];
    const auto value = WholeNumber(f[b.field]);
    if (!value) return fail(std::string(name) + " is not a whole number");
    if (*value < 1 || *value > 2000000) return fail(std::string(name) + " is outside 1 to 2000000 MByte/s");
    *b.out = *value;
  }

  const auto latency = DecimalNumber(f[kLatency]);
  if (!latency) return fail("LATENCY is not a number");
  // "0" or "0.0" is what the program writes when the latency test did not run or measured nothing.
  if (*latency != 0) {
    if (*latency < 1 || *latency > 2000) return fail("LATENCY is outside 1 to 2000 ns");
    record.latencyNs = *latency;
  }

  const auto score = DecimalNumber(f[kResult]);
  if (!score) return fail("RESULT is not a number");
  if (*score <= 0 || *score >= 2000) return fail("RESULT is outside 0 to 2000 GByte/s");
  // The program derives the score from the three bandwidths and prints it with two decimals.
  const double expected = static_cast<double>(record.read + record.write + record.copy) / 3000.0;
  if (std::fabs(*score - expected) > 0.0101) return fail("RESULT does not match READ, WRITE and COPY");
  record.score = *score;

  const auto cpuClock = WholeNumber(f[kCpuClk]);
  if (!cpuClock || *cpuClock > 100000) return fail("CPUCLK is not a clock in MHz");
  record.cpuClockMHz = *cpuClock;
  const auto cores = WholeNumber(f[kCpuCore]);
  if (!cores || *cores > 4096) return fail("CPUCORE is not a core count");
  record.cpuCores = *cores;

  const std::string& hash = f[kIdHash];
  if (hash.size() != 32) return fail("IDHASH is not 32 hexadecimal digits");
  for (char c : hash)
    if (!IsHex(c)) return fail("IDHASH is not 32 hexadecimal digits");
  for (char c : hash) record.idHash += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 32) : c;

  if (f[kCountry].size() > 3) return fail("COUNTRY is longer than 3 characters");
  const std::string& image = f[kBenImage];
  if (image.empty() || image.size() > 255 || image.find_first_of("/\\") != std::string::npos ||
      image == "." || image == "..")
    return fail("BENIMAGE is not a file name");
  if (f[kVersion].size() > 32) return fail("VERSION is too long");

  record.memory = ParseMemoryPanel(f[kMemory]);
  return record;
}

}  // namespace qvserver
