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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'f'); }

// "scheme:" in lower case, or empty when the address starts with none.
std::string SchemeOf(std::string_view address) {
  std::size_t colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  for (char c : address.substr(0, colon))
    if (!((Lower(c) >= 'a' && Lower(c) <= 'z') || IsDigit(c) || c == '+' || c == '-' || c == '.')) return {};
  return LowerAscii(address.substr(0, colon));
}

bool ValidPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (char c : port) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

// The host of an http or https address, lower case, one trailing dot
// dropped ("a.com." is "a.com"); none for anything a browser might read
// differently from us: user info ("good@evil"), percent escapes or
// backslashes in the authority, bad ports, empty labels.
std::optional<std::string> WebHost(std::string_view address) {
  if (address.empty() || address.size() > kMaxAddressLength || !platform::IsWebAddress(address)) return std::nullopt;
  std::string scheme = SchemeOf(address);
  if (scheme != "http" && scheme != "https") return std::nullopt;
  std::string_view rest = address.substr(address.find("://") + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.empty() || authority.find_first_of("@%\\") != std::string_view::npos) return std::nullopt;

  std::string_view host, port;
  bool hasPort = false;
  if (authority.front() == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close < 3) return std::nullopt;
    for (char c : authority.substr(1, close - 1))
      if (!IsHex(c) && c != ':' && c != '.') return std::nullopt;
    host = authority.substr(0, close + 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
      hasPort = true;
    }
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      hasPort = true;
    }
    for (char c : host) {
      auto u = static_cast<unsigned char>(c);
      // Letters, digits, '-', '.', '_' and the bytes of international names.
      if (!(u >= 0x80 || IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'z') || c == '-' || c == '.' || c == '_'))
        return std::nullopt;
    }
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos ||
        host.size() > 253)
      return std::nullopt;
  }
  if (hasPort && !ValidPort(port)) return std::nullopt;
  return LowerAscii(host);
}

}  // namespace

Navigation DecideNavigation(std::string_view address, std::string_view panelAddress, bool otherFrame) {
  if (address.empty() || address.size() > kMaxAddressLength) return Navigation::Refuse;
  std::string scheme = SchemeOf(address);
  // The page's own script, and the blank page the panel starts from, in the
  // page's own frame only.
  if (scheme == "javascript" || LowerAscii(address) == "about:blank")
    return otherFrame ? Navigation::Refuse : Navigation::Stay;
  if (scheme == "mailto") return platform::IsMailAddress(address) ? Navigation::Shell : Navigation::Refuse;
  std::optional<std::string> host = WebHost(address);
  if (!host) return Navigation::Refuse;
  std::optional<std::string> panelHost = WebHost(panelAddress);
  if (panelHost && *host == *panelHost) return Navigation::Stay;
  return Navigation::Shell;
}

}  // namespace ui
