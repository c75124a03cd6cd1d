// Our own artwork, drawn with GDI+ paths and gradients in design units: the
// caller's world transform scales it, so it stays crisp at any DPI.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "ui/win32/gdip.h"
#include "ui/model.h"

namespace ui::win32 {

enum class Look { Normal, Hover, Pressed, Selected, Disabled };

// What a button or picture looks like, from the role its design gives it.
enum class Art {
  None, Logo, LinkButton, Minimise, Close, VersionButton, Separator, Background, Banner, Decoration,
  ServerPanel, StartButton, InstallButton, DialogClose, Button, Picture,
};
Art ArtFor(ui::Role role);
// 1-4 for the version buttons, else 0.
int VersionIndex(ui::Role role);
// Art that is costly to draw and never changes: the caller caches it.
bool IsStaticArt(Art art);

// The window's skin beneath all controls, and its border above them.
void PaintFrame(Gdiplus::Graphics& g, ui::WindowId id, float w, float h);
void PaintFrameBorder(Gdiplus::Graphics& g, ui::WindowId id, float w, float h);

void PaintPictureArt(Gdiplus::Graphics& g, Art art, const Gdiplus::RectF& r);
// index: 1-4 for version buttons, else 0.
void PaintButton(Gdiplus::Graphics& g, Art art, const Gdiplus::RectF& r, Look look, std::wstring_view text,
                 int index, bool focused);

struct LabelStyle {
  float size;
  int style;  // Gdiplus::FontStyle
  Gdiplus::ARGB colour;
};
LabelStyle LabelStyleFor(ui::Role role);
void PaintLabel(Gdiplus::Graphics& g, const Gdiplus::RectF& r, std::wstring_view text, std::wstring_view face,
                const LabelStyle& style);

void PaintCheckBox(Gdiplus::Graphics& g, const Gdiplus::RectF& r, bool checked, Look look, bool focused);
void PaintComboBox(Gdiplus::Graphics& g, const Gdiplus::RectF& r, std::wstring_view text, Look look, bool open,
                   bool focused);
inline constexpr float kDropItemHeight = 26.f;
void PaintDropList(Gdiplus::Graphics& g, const Gdiplus::RectF& r, const std::vector<std::wstring>& items,
                   int selected, int hot);
void PaintProgress(Gdiplus::Graphics& g, const Gdiplus::RectF& r, double fraction);
// The announcement panel shown when no browser engine is available. Returns
// the link's rectangle (empty when there is no address).
Gdiplus::RectF PaintBrowserPanel(Gdiplus::Graphics& g, const Gdiplus::RectF& r, std::wstring_view address,
                                 bool linkHot);
// The panel when its page could not be loaded: "公告暂时无法显示", the address
// as a link and a retry link. hotLink: 1 the address, 2 retry, 0 neither.
struct OfflineLinks {
  Gdiplus::RectF address, retry;  // empty: not shown
};
OfflineLinks PaintOfflinePanel(Gdiplus::Graphics& g, const Gdiplus::RectF& r, std::wstring_view address,
                               int hotLink);

}  // namespace ui::win32
