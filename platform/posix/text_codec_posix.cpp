#include <iconv.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/text_codec.h"

namespace platform {
namespace {

constexpr char32_t kNoChar = 0xFFFFFFFF;
constexpr std::uint16_t kNoGbk = 0xFFFF;  // FF is never a GBK lead byte

// Code page 936 as glibc's CP936 has it (0x80 is the euro sign), asked of
// iconv once, character by character. Converting whole texts through iconv
// restarts it at every bad character, which glibc makes slow for long runs
// of them.
struct GbkTables {
  std::array<char32_t, 256> single;
  std::vector<char32_t> pair;         // [lead * 256 + trail]
  std::vector<std::uint16_t> toGbk;   // BMP code point -> byte or lead<<8|trail
  bool usable = false;

  GbkTables() : pair(256 * 256, kNoChar), toGbk(0x10000, kNoGbk) {
    single.fill(kNoChar);
    iconv_t dec = iconv_open("UTF-32LE", "CP936");
    iconv_t enc = iconv_open("CP936", "UTF-32LE");
    if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1)) {
      if (dec != reinterpret_cast<iconv_t>(-1)) iconv_close(dec);
      if (enc != reinterpret_cast<iconv_t>(-1)) iconv_close(enc);
      return;
    }
    auto decode = [&](const unsigned char* bytes, size_t n) -> char32_t {
      char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
      size_t inLeft = n;
      unsigned char out[8];
      char* o = reinterpret_cast<char*>(out);
      size_t oLeft = sizeof out;
      size_t r = iconv(dec, &in, &inLeft, &o, &oLeft);
      iconv(dec, nullptr, nullptr, nullptr, nullptr);
      if (r == static_cast<size_t>(-1) || inLeft != 0 || oLeft != 4) return kNoChar;
      return out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
    };
    for (unsigned b = 0; b < 256; ++b) {
      unsigned char one[1] = {static_cast<unsigned char>(b)};
      single[b] = decode(one, 1);
      if (single[b] != kNoChar) continue;
      for (unsigned t = 0; t < 256; ++t) {
        unsigned char two[2] = {static_cast<unsigned char>(b), static_cast<unsigned char>(t)};
        pair[b * 256 + t] = decode(two, 2);
      }
    }
    for (char32_t cp = 0; cp < 0x10000; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      unsigned char in32[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8), 0, 0};
      char* in = reinterpret_cast<char*>(in32);
      size_t inLeft = 4;
      unsigned char out[4];
      char* o = reinterpret_cast<char*>(out);
      size_t oLeft = sizeof out;
      size_t r = iconv(enc, &in, &inLeft, &o, &oLeft);
      iconv(enc, nullptr, nullptr, nullptr, nullptr);
      size_t got = sizeof out - oLeft;
      if (r == static_cast<size_t>(-1) || inLeft != 0) continue;
      if (got == 1) toGbk[cp] = out[0];
      else if (got == 2) toGbk[cp] = static_cast<std::uint16_t>(out[0] << 8 | out[1]);
    }
    iconv_close(dec);
    iconv_close(enc);
    usable = true;
  }
};

const GbkTables& Tables() {
  static const GbkTables tables;
  return tables;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// glibc's reading of a bad sequence at the very end: when the lead byte's
// length (old 5- and 6-byte forms included) runs past the end and only
// continuation bytes follow, it reports an incomplete character, and only
// the lead byte is replaced.
bool EndsInsideCharacter(std::string_view s, size_t i) {
  auto c = static_cast<unsigned char>(s[i]);
  size_t len = c >= 0xFC && c <= 0xFD ? 6 : c >= 0xF8 ? 5 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (len == 0 || c > 0xFD || i + len <= s.size()) return false;
  for (size_t k = i + 1; k < s.size(); ++k)
    if (!IsContinuation(static_cast<unsigned char>(s[k]))) return false;
  return true;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk, bool* ok, std::size_t* firstBad) {
  if (ok) *ok = true;
  if (firstBad) *firstBad = std::string_view::npos;
  std::string out;
  if (gbk.empty()) return out;
  const GbkTables& t = Tables();
  if (!t.usable) {
    if (ok) *ok = false;
    if (firstBad) *firstBad = 0;
    return std::string(gbk);
  }
  out.reserve(gbk.size() + gbk.size() / 2);
  auto bad = [&](size_t i) {
    if (ok) *ok = false;
    if (firstBad && *firstBad == std::string_view::npos) *firstBad = i;
    out.append("\xEF\xBF\xBD");
  };
  for (size_t i = 0; i < gbk.size();) {
    auto b = static_cast<unsigned char>(gbk[i]);
    if (t.single[b] != kNoChar) {
      AppendUtf8(out, t.single[b]);
      i += 1;
    } else if (i + 1 < gbk.size() && t.pair[b * 256 + static_cast<unsigned char>(gbk[i + 1])] != kNoChar) {
      AppendUtf8(out, t.pair[b * 256 + static_cast<unsigned char>(gbk[i + 1])]);
      i += 2;
    } else {
      // one byte replaced; the next may start a character
      bad(i);
      i += 1;
    }
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8, bool* ok, std::size_t* firstBad) {
  if (ok) *ok = true;
  if (firstBad) *firstBad = std::string_view::npos;
  std::string out;
  if (utf8.empty()) return out;
  const GbkTables& t = Tables();
  if (!t.usable) {
    if (ok) *ok = false;
    if (firstBad) *firstBad = 0;
    return std::string(utf8);
  }
  out.reserve(utf8.size());  // GBK is never longer than UTF-8
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8At(utf8, i, cp);
    if (len && cp >= 0xE0000 && cp <= 0xE007F) {
      i += len;  // glibc drops the Unicode tag characters; so do we
      continue;
    }
    std::uint16_t g = len && cp < 0x10000 ? t.toGbk[cp] : kNoGbk;
    if (g != kNoGbk) {
      if (g > 0xFF) out.push_back(static_cast<char>(g >> 8));
      out.push_back(static_cast<char>(g & 0xFF));
      i += len;
      continue;
    }
    if (ok) *ok = false;
    if (firstBad && *firstBad == std::string_view::npos) *firstBad = i;
    out.push_back('?');
    bool atEnd = !len && EndsInsideCharacter(utf8, i);
    ++i;
    // One '?' per character: skip its continuation bytes.
    if (!atEnd)
      while (i < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[i]))) ++i;
  }
  return out;
}

}  // namespace platform
