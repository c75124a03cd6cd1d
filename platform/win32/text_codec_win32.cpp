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

std::string GbkToUtf8(std::string_view gbk, bool* ok) {
  if (ok) *ok = true;
  if (gbk.empty()) return {};
  int n = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  if (n == 0) {
    // Some byte is not GBK: decode leniently (the system substitutes).
    if (ok) *ok = false;
    n = ::MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), w.data(), n);
    return win32::Narrow(w);
  }
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()), w.data(), n);
  return win32::Narrow(w);
}

std::string Utf8ToGbk(std::string_view utf8, bool* ok) {
  if (ok) *ok = true;
  if (utf8.empty()) return {};
  std::wstring w = win32::Widen(utf8);
  BOOL usedDefault = FALSE;
  int n = ::WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, "?", &usedDefault);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), out.data(), n, "?", &usedDefault);
  if (ok && (usedDefault || !IsValidUtf8(utf8))) *ok = false;
  return out;
}

}  // namespace platform
