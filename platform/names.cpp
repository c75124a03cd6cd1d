#include "platform/names.h"

#include <cctype>
#include <initializer_list>

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

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return Lower(c) >= 'a' && Lower(c) <= 'z'; }
bool IsHex(char c) { return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'f'); }
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
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

void AppendEscaped(std::string& out, unsigned char c) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// Bytes a handler's command line or cmd.exe would read as syntax, and a "%"
// that starts no escape; everything else (UTF-8 included) as it is.
std::string EscapeForShell(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    bool stray = c == '%' && !(i + 2 < text.size() && IsHex(text[i + 1]) && IsHex(text[i + 2]));
    if (stray || c == ' ' || c == '"' || c == '<' || c == '>' || c == '^' || c == '|' || c == '`')
      AppendEscaped(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

// Recipients of a mailto: comma-separated name@domain, of letters, digits,
// ". - _ +" and the bytes of international names: no escapes, quotes or
// slashes a mail program might read as something else.
bool ValidRecipients(std::string_view to) {
  if (to.empty()) return false;
  std::size_t from = 0;
  for (;;) {
    std::size_t comma = to.find(',', from);
    std::string_view one = to.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
    std::size_t at = one.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == one.size()) return false;
    if (one.find('@', at + 1) != std::string_view::npos) return false;
    for (char c : one) {
      auto u = static_cast<unsigned char>(c);
      if (!(u >= 0x80 || IsDigit(c) || IsLetter(c) || c == '.' || c == '-' || c == '_' || c == '+' || c == '@'))
        return false;
    }
    if (comma == std::string_view::npos) return true;
    from = comma + 1;
  }
}

std::optional<std::string> ShellMailAddress(std::string_view address) {
  std::string_view rest = address.substr(7);  // after "mailto:"
  rest = rest.substr(0, rest.find('#'));
  std::size_t q = rest.find('?');
  std::string_view to = rest.substr(0, q);
  if (!ValidRecipients(to)) return std::nullopt;
  std::string out = "mailto:" + std::string(to);
  if (q == std::string_view::npos) return out;
  // Only what a mail program fills in: no attachments, other recipients or
  // headers chosen by the page.
  std::string_view fields = rest.substr(q + 1);
  char sep = '?';
  std::size_t from = 0;
  while (from <= fields.size()) {
    std::size_t amp = fields.find('&', from);
    std::string_view field = fields.substr(from, amp == std::string_view::npos ? std::string_view::npos : amp - from);
    std::string_view name = field.substr(0, field.find('='));
    if (EqualsNoCase(name, "subject") || EqualsNoCase(name, "body")) {
      out += sep;
      out += EscapeForShell(field);
      sep = '&';
    }
    if (amp == std::string_view::npos) break;
    from = amp + 1;
  }
  return out;
}

// Dotted labels of letters, digits, '-' and the bytes of international
// names, the last not all digits; or four numbers (an IPv4 address).
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253 || host.find('.') == std::string_view::npos) return false;
  int labels = 0;
  bool allNumeric = true, lastNumeric = false;
  std::size_t from = 0;
  for (;;) {
    std::size_t dot = host.find('.', from);
    std::string_view label = host.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    bool numeric = true;
    for (char c : label) {
      auto u = static_cast<unsigned char>(c);
      if (!(u >= 0x80 || IsDigit(c) || IsLetter(c) || c == '-')) return false;
      numeric = numeric && IsDigit(c);
    }
    ++labels;
    allNumeric = allNumeric && numeric;
    lastNumeric = numeric;
    if (dot == std::string_view::npos) break;
    from = dot + 1;
  }
  if (allNumeric) return labels == 4;
  return !lastNumeric;
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

std::optional<std::string> WebHost(std::string_view address) {
  if (address.empty() || address.size() > kMaxWebAddressLength || !IsWebAddress(address)) return std::nullopt;
  std::size_t sep = address.find("://");
  std::string scheme = LowerAscii(address.substr(0, sep));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  std::string_view rest = address.substr(sep + 3);
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
      if (!(u >= 0x80 || IsDigit(c) || IsLetter(c) || c == '-' || c == '.' || c == '_')) return std::nullopt;
    }
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos ||
        host.size() > 253)
      return std::nullopt;
  }
  if (hasPort && !ValidPort(port)) return std::nullopt;
  return LowerAscii(host);
}

std::optional<std::string> ShellAddress(std::string_view address) {
  if (address.empty() || address.size() > kMaxWebAddressLength) return std::nullopt;
  for (unsigned char c : address)
    if (IsControl(c)) return std::nullopt;
  std::optional<std::string> out;
  if (StartsNoCase(address, "mailto:")) {
    out = ShellMailAddress(address);
  } else if (WebHost(address)) {
    std::size_t sep = address.find("://");
    std::string_view rest = address.substr(sep + 3);
    std::size_t pathAt = rest.find_first_of("/?#");
    if (pathAt == std::string_view::npos) pathAt = rest.size();
    out = LowerAscii(address.substr(0, sep)) + "://" + std::string(rest.substr(0, pathAt)) +
          EscapeForShell(rest.substr(pathAt));
  }
  // Escapes make it longer: what the shell would cut is refused whole.
  if (out && out->size() > kMaxWebAddressLength) return std::nullopt;
  return out;
}

std::string WithWebScheme(std::string_view address) {
  if (address.find("://") != std::string_view::npos || StartsNoCase(address, "mailto:")) return std::string(address);
  std::string_view authority = address.substr(0, address.find_first_of("/?#"));
  std::size_t colon = authority.find(':');
  if (colon != std::string_view::npos && !ValidPort(authority.substr(colon + 1))) return std::string(address);
  if (!IsHostName(authority.substr(0, colon))) return std::string(address);
  return "http://" + std::string(address);
}

std::string AddressForLog(std::string_view address) {
  std::string_view kept = address;
  std::size_t sep = address.find("://");
  std::string out;
  if (sep != std::string_view::npos) {
    std::string_view rest = address.substr(sep + 3);
    std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    out.append(address.substr(0, sep + 3)).append(authority);
    kept = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  }
  kept = kept.substr(0, kept.find_first_of("?#"));
  out.append(kept);
  std::string clean;
  clean.reserve(out.size());
  for (char c : out)
    if (IsControl(static_cast<unsigned char>(c)))
      AppendEscaped(clean, static_cast<unsigned char>(c));
    else
      clean += c;
  return clean;
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
