#include <windows.h>

#include "platform/text_codec.h"
#include "platform/win32/wide.h"

namespace platform {
namespace win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace win32

std::string GbkToUtf8(std::string_view gbk, bool* ok, std::size_t* firstBad) {
  if (ok) *ok = true;
  if (firstBad) *firstBad = std::string_view::npos;
  if (gbk.empty()) return {};
  int n = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  if (n > 0) {
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), w.data(), n);
    return win32::Narrow(w);
  }
  // Some byte is not GBK: go character by character and replace each bad byte
  // with U+FFFD, as the POSIX backend does (the system would map some of them
  // into the private-use area instead).
  if (ok) *ok = false;
  std::wstring w;
  for (size_t i = 0; i < gbk.size();) {
    auto b = static_cast<unsigned char>(gbk[i]);
    size_t len = (b >= 0x81 && b <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
    wchar_t out[2];
    int got = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data() + i, static_cast<int>(len), out, 2);
    if (got == 1) {
      w.push_back(out[0]);
      i += len;
    } else {
      if (firstBad && *firstBad == std::string_view::npos) *firstBad = i;
      w.push_back(L'\xFFFD');
      i += 1;
    }
  }
  return win32::Narrow(w);
}

namespace {

// A character that code page 936 holds exactly: the system's best-fit
// stand-ins (a look-alike letter) do not count.
bool HasGbkForm(char32_t cp) {
  if (cp >= 0x10000) return false;
  wchar_t w = static_cast<wchar_t>(cp);
  char out[2];
  BOOL usedDefault = FALSE;
  int n = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &w, 1, out, 2, nullptr, &usedDefault);
  return n > 0 && !usedDefault;
}

std::size_t FirstWithoutGbkForm(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeUtf8At(utf8, i, cp);
    if (!len || !HasGbkForm(cp)) return i;
    i += len;
  }
  return std::string_view::npos;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8, bool* ok, std::size_t* firstBad) {
  if (ok) *ok = true;
  if (firstBad) *firstBad = std::string_view::npos;
  if (utf8.empty()) return {};
  std::wstring w = win32::Widen(utf8);
  // A character outside the basic plane is one "?", as on POSIX, not two.
  bool replaced = false;
  std::wstring folded;
  folded.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i] >= 0xD800 && w[i] <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      folded.push_back(L'?');
      replaced = true;
      ++i;
    } else {
      folded.push_back(w[i]);
    }
  }
  BOOL usedDefault = FALSE;
  int n = ::WideCharToMultiByte(936, 0, folded.data(), static_cast<int>(folded.size()), nullptr, 0, "?", &usedDefault);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(936, 0, folded.data(), static_cast<int>(folded.size()), out.data(), n, "?", &usedDefault);
  if (!usedDefault) {
    // A best-fit stand-in is no GBK form either: ask again without them.
    ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, folded.data(), static_cast<int>(folded.size()), nullptr, 0,
                          "?", &usedDefault);
  }
  bool all = !replaced && !usedDefault && IsValidUtf8(utf8);
  if (ok && !all) *ok = false;
  if (firstBad && !all) *firstBad = FirstWithoutGbkForm(utf8);
  return out;
}

}  // namespace platform
