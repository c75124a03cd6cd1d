#include "platform/http_headers.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void HttpHeaderBlock::AddLine(std::string_view line) {
  if (line.rfind("HTTP/", 0) == 0) return;
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return;
  std::string_view name = line.substr(0, colon);
  // A name with white space is no field (or an obsolete folded line).
  if (name.find_first_of(" \t") != std::string_view::npos) return;
  fields_.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
}

void HttpHeaderBlock::AddBlock(std::string_view text) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    AddLine(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::string HttpHeaderBlock::Get(std::string_view name) const {
  for (const auto& [n, v] : fields_)
    if (SameName(n, name)) return v;
  return {};
}

bool IsSingleHeaderLine(std::string_view line) {
  return line.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace platform
