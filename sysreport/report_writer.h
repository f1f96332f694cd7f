// The report's text layout: sections (title, a line of dashes, an empty line), value lines
// (label, TABs, value), indented lines under a block line, and module blocks opened by "DIMM #".
#pragma once

#include <string>

namespace sysreport {

class ReportWriter {
 public:
  ReportWriter(const std::string& headerLine1, const std::string& headerLine2);

  void Section(const std::string& title);
  // label, two TABs, value; with indent a TAB in front. Nothing is written for an empty value
  // unless keepEmpty is set (the fact exists but holds no text).
  void Value(const std::string& label, const std::string& value, bool indent = false, bool keepEmpty = false);
  // A block line such as "Drive" + TAB + "0"; the indented values below it belong to it.
  void Block(const std::string& label, const std::string& value);
  // "DIMM #", four TABs and the slot number: the reader keys the module's lines by it.
  void ModuleBlock(int slot);
  void Empty();

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A text from the machine made safe for the layout: control characters become blanks, and the
// few sequences that would start a new section or module for the reader ("--", "DIMM #") are
// defused. Trimmed.
std::string SafeValue(const std::string& text);

}  // namespace sysreport
