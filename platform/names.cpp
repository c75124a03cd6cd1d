#include "platform/names.h"

#include <cctype>

namespace platform {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool IsReservedDeviceName(std::string_view name) {
  // "NUL.txt" and "con .log" open the device as well.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view r : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (EqualsNoCase(stem, r)) return true;
  if (stem.size() == 4 && (EqualsNoCase(stem.substr(0, 3), "COM") || EqualsNoCase(stem.substr(0, 3), "LPT")) &&
      stem[3] >= '1' && stem[3] <= '9')
    return true;
  return false;
}

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
         c == '.';
}

}  // namespace

bool IsValidName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
      default:
        break;
    }
  }
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsReservedDeviceName(name);
}

bool IsSafePath(std::string_view rest) {
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    rest.remove_prefix(2);
    if (rest.empty() || rest[0] != '\\') return false;  // "C:name" is relative to a drive's current folder
  }
  if (!rest.empty() && rest[0] == '\\') rest.remove_prefix(1);
  if (rest.empty()) return false;
  while (true) {
    size_t cut = rest.find('\\');
    if (!IsValidName(rest.substr(0, cut))) return false;
    if (cut == std::string_view::npos) return true;
    rest.remove_prefix(cut + 1);
  }
}

bool IsWebAddress(std::string_view url) {
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) return false;
  std::size_t sep = url.find("://");
  // One letter before ":" is a drive ("C://x"), not a scheme.
  if (sep == std::string_view::npos || sep < 2 || sep + 3 >= url.size()) return false;
  std::string_view scheme = url.substr(0, sep);
  if (!((scheme[0] >= 'a' && scheme[0] <= 'z') || (scheme[0] >= 'A' && scheme[0] <= 'Z'))) return false;
  for (char c : scheme)
    if (!IsSchemeChar(c)) return false;
  return !EqualsNoCase(scheme, "file");
}

bool IsMailAddress(std::string_view url) {
  constexpr std::string_view kScheme = "mailto:";
  if (url.size() <= kScheme.size() || !EqualsNoCase(url.substr(0, kScheme.size()), kScheme)) return false;
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  std::string_view to = url.substr(kScheme.size());
  return to.find('@') != std::string_view::npos && to.front() != '/';
}

}  // namespace platform
