// libFuzzer target for the name and address checks: what they accept must
// keep the promises the launcher builds paths and opens addresses on.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/names.h"

namespace {

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

void CheckName(std::string_view name) {
  if (!platform::IsValidName(name)) return;
  if (name.empty() || name == "." || name == "..") std::abort();
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      std::abort();
  if (name.back() == '.' || name.back() == ' ') std::abort();
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (std::string_view r : {"CON", "PRN", "AUX", "NUL", "COM1", "LPT9", "CONIN$"})
    if (stem == r) std::abort();
}

void CheckPath(std::string_view path) {
  if (!platform::IsSafePath(path)) return;
  // Every part after an optional drive and leading "\" is a valid name.
  std::string_view rest = path;
  if (rest.size() >= 2 && rest[1] == ':') rest.remove_prefix(2);
  if (!rest.empty() && rest[0] == '\\') rest.remove_prefix(1);
  while (true) {
    std::size_t cut = rest.find('\\');
    if (!platform::IsValidName(rest.substr(0, cut))) std::abort();
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  if (path.find('/') != std::string_view::npos) std::abort();
}

void CheckAddress(std::string_view url) {
  if (!platform::IsWebAddress(url)) return;
  if (StartsNoCase(url, "file:") || url.find("://") == std::string_view::npos) std::abort();
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) std::abort();
  if (url.size() > 1 && url[1] == ':') std::abort();  // a drive, not a scheme
}

// Whatever the shell gets is a web or mail address with nothing a command
// line reads as syntax, and passing it through the rule again changes nothing.
void CheckShellAddress(std::string_view address) {
  std::optional<std::string> shell = platform::ShellAddress(address);
  if (!shell) return;
  if (!StartsNoCase(*shell, "http://") && !StartsNoCase(*shell, "https://") && !StartsNoCase(*shell, "mailto:"))
    std::abort();
  for (unsigned char c : *shell)
    if (c < 0x21 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '^' || c == '|' || c == '`') std::abort();
  if (platform::ShellAddress(*shell) != shell) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);  // exact size
  CheckName(s);
  CheckPath(s);
  CheckAddress(s);
  // The same bytes behind a scheme, to reach deeper into the address check.
  CheckAddress("FiLe://" + s);
  CheckShellAddress(s);
  CheckShellAddress("http://a.example/" + s);
  CheckShellAddress("mailto:a@b.example?" + s);
  CheckShellAddress(platform::WithWebScheme(s));
  if (platform::IsWebAddress("FiLe://" + s) || platform::IsWebAddress("file:///" + s)) std::abort();
  return 0;
}
