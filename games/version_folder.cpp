#include "games/version_folder.h"

#include <array>
#include <cctype>
#include <string>

namespace games {
namespace {

bool IsDeviceName(std::string_view name) {
  // The part before the first dot decides: "nul.txt" is the device too.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper;
  for (char ch : stem) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view d : kPlain)
    if (upper == d) return true;
  if (upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
      upper[3] <= '9')
    return true;
  return false;
}

}  // namespace

bool IsSafeFolderName(std::string_view name) {
  if (name.empty()) return false;
  if (name.find("..") != std::string_view::npos) return false;
  bool onlyDotsAndSpaces = true;
  for (char ch : name) {
    unsigned char u = static_cast<unsigned char>(ch);
    if (u < 0x20 || u == 0x7F) return false;
    switch (ch) {
      case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
      default:
        break;
    }
    if (ch != '.' && ch != ' ') onlyDotsAndSpaces = false;
  }
  if (onlyDotsAndSpaces) return false;
  return !IsDeviceName(name);
}

}  // namespace games
