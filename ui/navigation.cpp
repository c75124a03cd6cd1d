#include "ui/navigation.h"

#include <optional>
#include <string>

#include "platform/names.h"

namespace ui {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

// "scheme:" in lower case, or empty when the address starts with none.
std::string SchemeOf(std::string_view address) {
  std::size_t colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  for (char c : address.substr(0, colon))
    if (!((Lower(c) >= 'a' && Lower(c) <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))
      return {};
  return LowerAscii(address.substr(0, colon));
}

}  // namespace

Navigation DecideNavigation(std::string_view address, std::string_view panelAddress, bool otherFrame) {
  if (address.empty() || address.size() > kMaxAddressLength) return Navigation::Refuse;
  std::string scheme = SchemeOf(address);
  // The page's own script, and the blank page the panel starts from, in the
  // page's own frame only.
  if (scheme == "javascript" || LowerAscii(address) == "about:blank")
    return otherFrame ? Navigation::Refuse : Navigation::Stay;
  // What goes to the shell passes the launcher's one rule for it.
  if (scheme == "mailto") return platform::ShellAddress(address) ? Navigation::Shell : Navigation::Refuse;
  std::optional<std::string> host = platform::WebHost(address);
  if (!host) return Navigation::Refuse;
  std::optional<std::string> panelHost = platform::WebHost(panelAddress);
  if (panelHost && *host == *panelHost) return Navigation::Stay;
  return Navigation::Shell;
}

bool ShellThrottle::Allow(bool clicked) {
  std::uint32_t now = clock_.TickCount();
  if (opened_ && platform::TicksBetween(last_, now) < kShellOpenIntervalMs) return false;
  if (!clicked && unclicked_ >= kUnclickedShellOpensPerPage) return false;
  if (!clicked) ++unclicked_;
  opened_ = true;
  last_ = now;
  return true;
}

}  // namespace ui
