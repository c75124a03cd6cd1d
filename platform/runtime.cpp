#include "platform/runtime.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <limits>

namespace platform {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualAt(std::string_view text, size_t at, std::string_view sought, bool ignoreCase) {
  if (at + sought.size() > text.size()) return false;
  for (size_t i = 0; i < sought.size(); ++i) {
    char a = text[at + i], b = sought[i];
    if (ignoreCase) {
      a = AsciiLower(a);
      b = AsciiLower(b);
    }
    if (a != b) return false;
  }
  return true;
}

// Full-width forms U+FF01..U+FF5E and the ideographic space, as UTF-8.
std::string HalfWidth(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 == 0xEF && i + 2 < text.size()) {
      unsigned cp = ((b0 & 0x0F) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6) |
                    (static_cast<unsigned char>(text[i + 2]) & 0x3F);
      if (cp >= 0xFF01 && cp <= 0xFF5E) {
        out.push_back(static_cast<char>(cp - 0xFF01 + 0x21));
        i += 3;
        continue;
      }
    }
    if (b0 == 0xE3 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        static_cast<unsigned char>(text[i + 2]) == 0x80) {
      out.push_back(' ');
      i += 3;
      continue;
    }
    out.push_back(text[i]);
    ++i;
  }
  return out;
}

}  // namespace

int FindText(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
  if (text.empty()) return -1;
  if (start < 1) start = 1;
  if (sought.empty()) return static_cast<size_t>(start) <= text.size() ? start : -1;
  for (size_t at = static_cast<size_t>(start - 1); at + sought.size() <= text.size(); ++at) {
    if (EqualAt(text, at, sought, ignoreCase)) return static_cast<int>(at + 1);
  }
  return -1;
}

int FindTextBackward(std::string_view text, std::string_view sought, int limit, bool ignoreCase) {
  if (text.empty() || sought.empty() || sought.size() > text.size()) return -1;
  size_t last = text.size() - sought.size();  // 0-based latest start
  if (limit >= 1 && static_cast<size_t>(limit - 1) < last + 1) {
    if (limit < 2) return -1;
    last = static_cast<size_t>(limit - 2);  // must start before the limit
  }
  for (size_t at = last + 1; at-- > 0;) {
    if (EqualAt(text, at, sought, ignoreCase)) return static_cast<int>(at + 1);
  }
  return -1;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter, int maxCount) {
  std::vector<std::string> pieces;
  if (text.empty() || maxCount == 0) return pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  size_t from = 0;
  while (true) {
    if (maxCount > 0 && static_cast<int>(pieces.size()) == maxCount) break;
    size_t at = text.find(delimiter, from);
    if (at == std::string_view::npos) {
      pieces.emplace_back(text.substr(from));
      break;
    }
    pieces.emplace_back(text.substr(from, at - from));
    from = at + delimiter.size();
  }
  return pieces;
}

std::string LeftText(std::string_view text, long long n) {
  if (n <= 0) return {};
  return std::string(text.substr(0, static_cast<size_t>(std::min<long long>(n, text.size()))));
}

std::string RightText(std::string_view text, long long n) {
  if (n <= 0) return {};
  size_t count = static_cast<size_t>(std::min<long long>(n, text.size()));
  return std::string(text.substr(text.size() - count));
}

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::int64_t ToLongInteger(std::string_view input) {
  std::string text = HalfWidth(input);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  const std::uint64_t cap = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // saturate rather than wrap
    value = value >= cap / 10 + 1 ? cap : std::min(cap, value * 10 + static_cast<unsigned>(text[i] - '0'));
  }
  if (negative) return value >= cap ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(value);
  return value >= cap ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(value);
}

std::int32_t ToInteger(std::string_view text) {
  std::int64_t v = ToLongInteger(text);
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::string FloatToText(float value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(value));
  return buf;
}

std::string DoubleToText(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.13g", value);
  return buf;
}

double RoundTo(double value, int decimals) {
  // Exact powers of ten; pow() may be a few ulps off on some C libraries.
  double scale = 1.0;
  for (int i = 0; i < decimals && i < 308; ++i) scale *= 10.0;
  for (int i = 0; i > decimals && i > -308; --i) scale /= 10.0;
  double magnitude = std::fabs(value) * scale + 1e-12;
  double whole = 0;
  double fraction = std::modf(magnitude, &whole);
  if (fraction >= 0.5) whole += 1;
  double result = whole / scale;
  return value < 0 ? -result : result;
}

std::string TextAfterLastSlash(std::string_view url) {
  int pos = FindTextBackward(url, "/");
  return RightText(url, static_cast<long long>(url.size()) - pos);
}

}  // namespace platform
