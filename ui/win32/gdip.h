// GDI+ for the skinned windows: started once per process, fonts resolved with
// a CJK fallback, pictures decoded from the bytes of an image file.
#pragma once
#include <windows.h>
// gdiplus.h wants min/max in scope and is not self-contained.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace ui::win32 {

// Starts GDI+ on first use; false when it cannot start.
bool EnsureGdiplus();

// A family for a face name; when the face is not installed, the first
// installed CJK face, else the generic sans-serif. Never null once GDI+ runs.
const Gdiplus::FontFamily* FamilyFor(std::wstring_view face);

// Decodes PNG, JPEG, GIF or BMP bytes into a bitmap that owns its pixels
// (pre-multiplied ARGB, independent of the bytes). Null when they don't decode.
std::unique_ptr<Gdiplus::Bitmap> DecodePicture(std::span<const std::uint8_t> bytes);

}  // namespace ui::win32
