// The one-part multipart form the program posts: "--boundary", the part's head, its bytes, the
// closing delimiter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvserver {

struct FormPart {
  std::string name;      // the form field
  std::string filename;  // as sent: the client's full path, either separator
  std::string_view content;
};

// The boundary parameter of a "multipart/form-data; boundary=..." content type; empty when the
// type is not that or names no usable boundary.
std::string MultipartBoundary(std::string_view contentType);

// The single part of body. Nothing when the form is malformed or holds another count of parts,
// with error saying which (one line for the client).
std::optional<FormPart> SinglePart(std::string_view body, std::string_view boundary, std::string* error);

}  // namespace qvserver
