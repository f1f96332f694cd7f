#include "sysreport/report_writer.h"

#include "sysreport/source.h"

namespace sysreport {

ReportWriter::ReportWriter(const std::string& headerLine1, const std::string& headerLine2) {
  text_ = SafeValue(headerLine1) + "\n" + SafeValue(headerLine2) + "\n\n";
}

void ReportWriter::Section(const std::string& title) {
  text_ += title + "\n" + std::string(72, '-') + "\n\n";
}

void ReportWriter::Value(const std::string& label, const std::string& value, bool indent, bool keepEmpty) {
  const std::string v = SafeValue(value);
  if (v.empty() && !keepEmpty) return;
  text_ += (indent ? "\t" : "") + label + "\t\t" + v + "\n";
}

void ReportWriter::Block(const std::string& label, const std::string& value) {
  const std::string v = SafeValue(value);
  text_ += label + (v.empty() ? "" : "\t" + v) + "\n";
}

void ReportWriter::ModuleBlock(int slot) { text_ += "DIMM #\t\t\t\t" + std::to_string(slot) + "\n"; }

void ReportWriter::Empty() { text_ += "\n"; }

std::string SafeValue(const std::string& text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    s += (u < 32 || u == 127) ? ' ' : c;
  }
  for (size_t p; (p = s.find("--")) != std::string::npos;) s.replace(p, 2, "-");
  for (size_t p; (p = s.find("DIMM #")) != std::string::npos;) s.replace(p, 6, "DIMM ");
  return Trim(s);
}

}  // namespace sysreport
