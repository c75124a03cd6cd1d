#include "ui/win32/gdip.h"

#include <shlwapi.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/win32/com_ptr.h"

namespace ui::win32 {
namespace {

std::once_flag gStartOnce;
bool gStarted = false;

// Faces tried, in order, when a named face is missing. Wine maps the first
// two names to an installed CJK face through its font replacements.
constexpr const wchar_t* kCjkFallbacks[] = {
    L"Microsoft YaHei", L"微软雅黑", L"黑体", L"SimHei", L"WenQuanYi Micro Hei", L"WenQuanYi Zen Hei",
    L"Noto Sans CJK SC", L"Source Han Sans SC", L"DengXian", L"SimSun", L"宋体", L"MS Gothic",
};

std::unique_ptr<Gdiplus::FontFamily> TryFamily(const std::wstring& face) {
  auto f = std::make_unique<Gdiplus::FontFamily>(face.c_str());
  if (f->GetLastStatus() != Gdiplus::Ok || !f->IsAvailable()) return nullptr;
  return f;
}

}  // namespace

bool EnsureGdiplus() {
  std::call_once(gStartOnce, [] {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    // Never shut down: windows and cached bitmaps live until the process ends.
    gStarted = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  });
  return gStarted;
}

const Gdiplus::FontFamily* FamilyFor(std::wstring_view face) {
  // Window thread only; the cache keeps every family for the process.
  static std::map<std::wstring, std::unique_ptr<Gdiplus::FontFamily>, std::less<>> cache;
  static std::unique_ptr<Gdiplus::FontFamily> fallback;
  std::wstring key(face.empty() ? L"微软雅黑" : face);
  if (auto it = cache.find(key); it != cache.end()) return it->second.get();
  std::unique_ptr<Gdiplus::FontFamily> f = TryFamily(key);
  if (!f) {
    if (!fallback) {
      for (const wchar_t* name : kCjkFallbacks)
        if ((fallback = TryFamily(name))) break;
      if (!fallback) fallback.reset(Gdiplus::FontFamily::GenericSansSerif()->Clone());
    }
    f.reset(fallback->Clone());
  }
  return (cache[key] = std::move(f)).get();
}

std::unique_ptr<Gdiplus::Bitmap> DecodePicture(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8 || bytes.size() > 0x7fffffff || !EnsureGdiplus()) return nullptr;
  platform::win32::ComPtr<IStream> stream(::SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
  if (!stream) return nullptr;
  // The decoded image reads from the stream: it goes first.
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
  std::unique_ptr<Gdiplus::Bitmap> out;
  if (decoded && decoded->GetLastStatus() == Gdiplus::Ok && decoded->GetWidth() > 0 && decoded->GetHeight() > 0) {
    // Copy the first frame so the result does not depend on the stream.
    int w = static_cast<int>(decoded->GetWidth()), h = static_cast<int>(decoded->GetHeight());
    out = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
    if (out->GetLastStatus() == Gdiplus::Ok) {
      Gdiplus::Graphics g(out.get());
      g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
      if (g.DrawImage(decoded.get(), 0, 0, w, h) != Gdiplus::Ok) out.reset();
    } else {
      out.reset();
    }
  }
  return out;
}

}  // namespace ui::win32
