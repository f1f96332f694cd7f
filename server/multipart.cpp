#include "server/multipart.h"

#include <vector>

namespace qvserver {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithNoCase(std::string_view text, std::string_view head) {
  if (text.size() < head.size()) return false;
  for (size_t i = 0; i < head.size(); ++i)
    if (Lower(text[i]) != Lower(head[i])) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "a=1; name=\"x; y\"" into name/value pairs; quoted values may hold ';' (Windows folders can).
std::vector<std::pair<std::string, std::string>> Parameters(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ';' || text[at] == ' ' || text[at] == '\t')) ++at;
    const size_t eq = text.find('=', at), semi = text.find(';', at);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      at = semi == std::string_view::npos ? text.size() : semi + 1;
      continue;
    }
    std::string key;
    for (char c : Trim(text.substr(at, eq - at))) key += Lower(c);
    at = eq + 1;
    std::string value;
    if (at < text.size() && text[at] == '"') {
      const size_t close = text.find('"', at + 1);
      if (close == std::string_view::npos) return out;  // unterminated: nothing more to trust
      value = std::string(text.substr(at + 1, close - at - 1));
      at = close + 1;
    } else {
      const size_t end = text.find(';', at);
      value = std::string(
          Trim(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at)));
      at = end == std::string_view::npos ? text.size() : end;
    }
    out.emplace_back(std::move(key), std::move(value));
  }
  return out;
}

std::optional<FormPart> Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return std::nullopt;
}

}  // namespace

std::string MultipartBoundary(std::string_view contentType) {
  const size_t semi = contentType.find(';');
  std::string_view type = Trim(contentType.substr(0, semi));
  if (type.size() != 19 || !StartsWithNoCase(type, "multipart/form-data") || semi == std::string_view::npos)
    return {};
  for (auto& [key, value] : Parameters(contentType.substr(semi + 1))) {
    if (key != "boundary") continue;
    // RFC 2046: 1 to 70 characters, no line breaks.
    if (value.empty() || value.size() > 70 || value.find_first_of("\r\n") != std::string::npos) return {};
    return value;
  }
  return {};
}

std::optional<FormPart> SinglePart(std::string_view body, std::string_view boundary, std::string* error) {
  const std::string open = "--" + std::string(boundary) + "\r\n";
  if (body.substr(0, open.size()) != open) return Fail(error, "malformed multipart form");
  const size_t headStart = open.size();
  const size_t headEnd = body.find("\r\n\r\n", headStart - 2);
  if (headEnd == std::string_view::npos || headEnd - headStart > 4096)
    return Fail(error, "malformed multipart form");
  const std::string delimiter = "\r\n--" + std::string(boundary);
  const size_t contentStart = headEnd + 4;
  const size_t contentEnd = body.find(delimiter, contentStart);
  if (contentEnd == std::string_view::npos) return Fail(error, "malformed multipart form");
  const std::string_view after = body.substr(contentEnd + delimiter.size());
  if (after.substr(0, 2) == "\r\n") return Fail(error, "expected exactly one form part, named file");
  if (after.substr(0, 2) != "--") return Fail(error, "malformed multipart form");

  FormPart part;
  part.content = body.substr(contentStart, contentEnd - contentStart);
  bool disposition = false;
  std::string_view head =
      headEnd > headStart ? body.substr(headStart, headEnd - headStart) : std::string_view();
  while (!head.empty()) {
    const size_t eol = head.find("\r\n");
    const std::string_view line = head.substr(0, eol);
    head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
    if (!StartsWithNoCase(line, "content-disposition:")) continue;
    std::string_view value = Trim(line.substr(20));
    if (!StartsWithNoCase(value, "form-data")) return Fail(error, "malformed multipart form");
    disposition = true;
    for (auto& [key, v] : Parameters(value.substr(9))) {
      if (key == "name") part.name = v;
      if (key == "filename") part.filename = v;
    }
  }
  if (!disposition || part.name != "file") return Fail(error, "expected exactly one form part, named file");
  return part;
}

}  // namespace qvserver
