#include <iconv.h>

#include <cerrno>
#include <mutex>

#include "platform/text_codec.h"

namespace platform {
namespace {

// glibc's CP936 matches Windows code page 936 (0x80 is the euro sign).
std::string Convert(const char* to, const char* from, std::string_view input, std::string_view bad, bool* ok) {
  if (ok) *ok = true;
  std::string out;
  if (input.empty()) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (ok) *ok = false;
    return std::string(input);
  }
  out.reserve(input.size() * 3 / 2 + 8);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char buf[4096];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence): replace one byte and go on.
      if (ok) *ok = false;
      out.append(bad);
      ++in;
      --inLeft;
      if (errno == EILSEQ && std::string_view(from) == "UTF-8") {
        // skip the continuation bytes of the unencodable character
        while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
          ++in;
          --inLeft;
        }
      }
    }
  }
  char* o = buf;
  size_t oLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &o, &oLeft);
  out.append(buf, static_cast<size_t>(o - buf));
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk, bool* ok) { return Convert("UTF-8", "CP936", gbk, "\xEF\xBF\xBD", ok); }

std::string Utf8ToGbk(std::string_view utf8, bool* ok) { return Convert("CP936", "UTF-8", utf8, "?", ok); }

}  // namespace platform
