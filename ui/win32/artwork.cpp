#include "ui/win32/artwork.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ui::win32 {
namespace {

using namespace Gdiplus;

// Palette: deep blue-black with gold and ice-blue accents.
constexpr ARGB kInk = 0xFF0A0E15;
constexpr ARGB kLine = 0xFF2A3548;
constexpr ARGB kText = 0xFFE8EDF4;
constexpr ARGB kMuted = 0xFF8A95A8;
constexpr ARGB kGoldHi = 0xFFFFDE8A;
constexpr ARGB kGold = 0xFFEDB24A;
constexpr ARGB kGoldLo = 0xFFB9731B;
constexpr ARGB kIceHi = 0xFF7FE0FF;
constexpr ARGB kIce = 0xFF2C9BDB;
constexpr ARGB kIceLo = 0xFF155E9C;
constexpr ARGB kRed = 0xFFE0464E;

constexpr ARGB WithAlpha(ARGB c, int a) { return (static_cast<ARGB>(a) << 24) | (c & 0x00FFFFFF); }
Color C(ARGB c) { return Color(c); }

void RoundRect(GraphicsPath& p, const RectF& r, float rad) {
  float d = std::min(rad * 2, std::min(r.Width, r.Height));
  if (d <= 0.5f) {
    p.AddRectangle(r);
    return;
  }
  p.AddArc(r.X, r.Y, d, d, 180, 90);
  p.AddArc(r.X + r.Width - d, r.Y, d, d, 270, 90);
  p.AddArc(r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90);
  p.AddArc(r.X, r.Y + r.Height - d, d, d, 90, 90);
  p.CloseFigure();
}

void FillRound(Graphics& g, const Brush& b, const RectF& r, float rad) {
  GraphicsPath p;
  RoundRect(p, r, rad);
  g.FillPath(&b, &p);
}

void StrokeRound(Graphics& g, ARGB colour, float width, const RectF& r, float rad) {
  GraphicsPath p;
  RoundRect(p, r, rad);
  Pen pen(C(colour), width);
  g.DrawPath(&pen, &p);
}

void VGradient(Graphics& g, const RectF& r, ARGB top, ARGB bottom, float rad = 0) {
  RectF gr(r.X, r.Y - 0.5f, r.Width, r.Height + 1);
  LinearGradientBrush b(gr, C(top), C(bottom), LinearGradientModeVertical);
  if (rad > 0)
    FillRound(g, b, r, rad);
  else
    g.FillRectangle(&b, r);
}

RectF Inset(const RectF& r, float dx, float dy) { return RectF(r.X + dx, r.Y + dy, r.Width - 2 * dx, r.Height - 2 * dy); }

void Text(Graphics& g, std::wstring_view s, std::wstring_view face, float size, int style, ARGB colour,
          const RectF& r, StringAlignment h = StringAlignmentNear, StringAlignment v = StringAlignmentCenter) {
  if (s.empty()) return;
  Font font(FamilyFor(face), size, style, UnitPixel);
  StringFormat fmt(StringFormatFlagsNoWrap);
  fmt.SetAlignment(h);
  fmt.SetLineAlignment(v);
  fmt.SetTrimming(StringTrimmingEllipsisCharacter);
  SolidBrush brush(C(colour));
  g.DrawString(s.data(), static_cast<INT>(s.size()), &font, r, &fmt, &brush);
}

// Text as a filled path: gradient faces and outlines for titles.
void TextPath(GraphicsPath& p, std::wstring_view s, std::wstring_view face, float size, int style, PointF at) {
  StringFormat fmt(StringFormat::GenericTypographic());
  p.AddString(s.data(), static_cast<INT>(s.size()), FamilyFor(face), style, size, at, &fmt);
}

float TextWidth(std::wstring_view s, std::wstring_view face, float size, int style) {
  GraphicsPath p;
  TextPath(p, s, face, size, style, PointF(0, 0));
  RectF b;
  p.GetBounds(&b);
  return b.Width;
}

// Cheap deterministic noise for stars and ridges.
std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}
float Rand01(std::uint32_t i) { return static_cast<float>(Hash(i) & 0xFFFFFF) / 16777216.f; }

void Glow(Graphics& g, float cx, float cy, float rx, float ry, ARGB centre) {
  GraphicsPath p;
  p.AddEllipse(cx - rx, cy - ry, rx * 2, ry * 2);
  PathGradientBrush b(&p);
  b.SetCenterColor(C(centre));
  Color edge(WithAlpha(centre, 0));
  INT n = 1;
  b.SetSurroundColors(&edge, &n);
  g.FillPath(&b, &p);
}

void Ridge(Graphics& g, const RectF& r, float base, float amp, std::uint32_t seed, ARGB top, ARGB bottom) {
  GraphicsPath p;
  std::vector<PointF> pts;
  int steps = 64;
  for (int i = 0; i <= steps; ++i) {
    float t = static_cast<float>(i) / steps;
    float x = r.X + t * r.Width;
    float y = base - amp * (0.55f * std::sin(t * 6.1f + seed) + 0.3f * std::sin(t * 13.7f + seed * 1.7f) +
                            0.15f * std::sin(t * 29.3f + seed * 2.3f));
    pts.emplace_back(x, y);
  }
  pts.emplace_back(r.X + r.Width, r.Y + r.Height);
  pts.emplace_back(r.X, r.Y + r.Height);
  p.AddPolygon(pts.data(), static_cast<INT>(pts.size()));
  RectF gr(r.X, base - amp, r.Width, r.Y + r.Height - (base - amp));
  LinearGradientBrush b(gr, C(top), C(bottom), LinearGradientModeVertical);
  g.FillPath(&b, &p);
}

// A hexagonal emblem; the logo and the version buttons share it.
void Emblem(Graphics& g, float cx, float cy, float rad, ARGB rim, ARGB fillTop, ARGB fillBottom) {
  PointF pts[6];
  for (int i = 0; i < 6; ++i) {
    double a = (60.0 * i - 90.0) * 3.14159265358979 / 180.0;
    pts[i] = PointF(cx + rad * static_cast<float>(std::cos(a)), cy + rad * static_cast<float>(std::sin(a)));
  }
  GraphicsPath p;
  p.AddPolygon(pts, 6);
  LinearGradientBrush b(RectF(cx - rad, cy - rad - 1, rad * 2, rad * 2 + 2), C(fillTop), C(fillBottom),
                        LinearGradientModeVertical);
  g.FillPath(&b, &p);
  Pen pen(C(rim), std::max(1.2f, rad / 9));
  pen.SetLineJoin(LineJoinRound);
  g.DrawPath(&pen, &p);
}

void Star(GraphicsPath& p, float cx, float cy, float outer, float inner) {
  PointF pts[10];
  for (int i = 0; i < 10; ++i) {
    double a = (36.0 * i - 90.0) * 3.14159265358979 / 180.0;
    float rad = (i % 2) ? inner : outer;
    pts[i] = PointF(cx + rad * static_cast<float>(std::cos(a)), cy + rad * static_cast<float>(std::sin(a)));
  }
  p.AddPolygon(pts, 10);
}

const wchar_t* const kUiFace = L"微软雅黑";
const wchar_t* const kLatinFace = L"Tahoma";

void PaintBackground(Graphics& g, const RectF& r) {
  // Night sky over ridges, dark enough for light text anywhere on it.
  LinearGradientBrush sky(RectF(r.X, r.Y - 1, r.Width, r.Height + 2), C(0xFF101A2C), C(0xFF05070C),
                          LinearGradientModeVertical);
  Color cols[3] = {C(0xFF142038), C(0xFF0B1220), C(0xFF05070C)};
  REAL pos[3] = {0.f, 0.45f, 1.f};
  sky.SetInterpolationColors(cols, pos, 3);
  g.FillRectangle(&sky, r);
  Glow(g, r.X + r.Width * 0.66f, r.Y + r.Height * 0.42f, r.Width * 0.5f, r.Height * 0.42f, 0x5A2C5C9C);
  Glow(g, r.X + r.Width * 0.22f, r.Y + r.Height * 0.70f, r.Width * 0.35f, r.Height * 0.3f, 0x30B0682A);
  // Stars.
  for (std::uint32_t i = 0; i < 170; ++i) {
    float x = r.X + Rand01(i * 3) * r.Width;
    float y = r.Y + Rand01(i * 3 + 1) * r.Height * 0.6f;
    float s = 0.6f + Rand01(i * 3 + 2) * 1.6f;
    int a = 60 + static_cast<int>(Rand01(i * 7 + 5) * 170);
    SolidBrush b(C(WithAlpha(0xFFDDE8FF, a)));
    g.FillEllipse(&b, x, y, s, s);
  }
  // Moon with its halo.
  float mx = r.X + r.Width * 0.83f, my = r.Y + r.Height * 0.2f;
  Glow(g, mx, my, 120, 120, 0x40B8D4FF);
  {
    LinearGradientBrush moon(RectF(mx - 30, my - 30, 60, 60), C(0xFFF6F1E2), C(0xFFC9C3B0), 45.f);
    g.FillEllipse(&moon, mx - 28, my - 28, 56.f, 56.f);
    // The night side: a darker disc offset towards the lower left.
    GraphicsPath disc;
    disc.AddEllipse(mx - 28, my - 28, 56.f, 56.f);
    Region lit(&disc);
    GraphicsPath night;
    night.AddEllipse(mx - 38, my - 20, 56.f, 56.f);
    lit.Intersect(&night);
    SolidBrush shade(C(0xB0141C2C));
    g.FillRegion(&shade, &lit);
  }
  // Ridges, far to near.
  Ridge(g, r, r.Y + r.Height * 0.56f, 60, 3, 0xFF1C2A44, 0xFF0E1626);
  Ridge(g, r, r.Y + r.Height * 0.68f, 48, 11, 0xFF142036, 0xFF0A101C);
  {
    // Mist between the ridges.
    RectF mist(r.X, r.Y + r.Height * 0.6f, r.Width, r.Height * 0.18f);
    LinearGradientBrush b(mist, C(0x00607A9C), C(0x00607A9C), LinearGradientModeVertical);
    Color mc[3] = {C(0x00607A9C), C(0x26607A9C), C(0x00607A9C)};
    REAL mp[3] = {0, 0.5f, 1};
    b.SetInterpolationColors(mc, mp, 3);
    g.FillRectangle(&b, mist);
  }
  Ridge(g, r, r.Y + r.Height * 0.8f, 36, 23, 0xFF0C1322, 0xFF06090F);
  // Darken the top bar and the footer so their text reads on any picture.
  VGradient(g, RectF(r.X, r.Y, r.Width, 64), 0xA0000000, 0x00000000);
  VGradient(g, RectF(r.X, r.Y + r.Height - 170, r.Width, 170), 0x00000000, 0xE004060A);
}

void PaintBanner(Graphics& g, const RectF& r) {
  float cx = r.X + r.Width / 2;
  // A soft shadow behind the title, faded on every side.
  Glow(g, cx, r.Y + r.Height / 2, r.Width * 0.42f, r.Height * 0.62f, 0x9006090F);
  // Title, letter by letter with wide spacing.
  const std::wstring title = L"TARNWICK";
  float size = 58, spacing = 14;
  std::vector<float> widths;
  float total = 0;
  for (wchar_t ch : title) {
    widths.push_back(TextWidth(std::wstring_view(&ch, 1), kLatinFace, size, FontStyleBold));
    total += widths.back();
  }
  total += spacing * (title.size() - 1);
  GraphicsPath path;
  float x = cx - total / 2, y = r.Y + 14;
  for (size_t i = 0; i < title.size(); ++i) {
    GraphicsPath one;
    TextPath(one, std::wstring_view(&title[i], 1), kLatinFace, size, FontStyleBold, PointF(0, 0));
    RectF b;
    one.GetBounds(&b);
    Matrix m;
    m.Translate(x - b.X, y);
    one.Transform(&m);
    path.AddPath(&one, FALSE);
    x += widths[i] + spacing;
  }
  RectF tb;
  path.GetBounds(&tb);
  // Glow, outline, then a gold face.
  for (int i = 3; i >= 1; --i) {
    Pen glow(C(WithAlpha(kGold, 22 * i)), static_cast<REAL>(12 - 3 * i));
    glow.SetLineJoin(LineJoinRound);
    g.DrawPath(&glow, &path);
  }
  Pen outline(C(0xFF2A1804), 2.2f);
  outline.SetLineJoin(LineJoinRound);
  g.DrawPath(&outline, &path);
  LinearGradientBrush face(RectF(tb.X, tb.Y - 1, tb.Width, tb.Height + 2), C(kGoldHi), C(kGoldLo),
                           LinearGradientModeVertical);
  Color fc[4] = {C(0xFFFFF3C8), C(kGoldHi), C(kGold), C(kGoldLo)};
  REAL fp[4] = {0, 0.35f, 0.55f, 1};
  face.SetInterpolationColors(fc, fp, 4);
  g.FillPath(&face, &path);
  // Ornament lines with diamonds on either side, and the subtitle.
  float ly = r.Y + 100;
  float half = 250;
  for (int side = -1; side <= 1; side += 2) {
    float x0 = cx + side * 120, x1 = cx + side * half;
    LinearGradientBrush lb(PointF(x0, ly), PointF(x1 + side * 0.1f, ly), C(WithAlpha(kGold, 220)),
                           C(WithAlpha(kGold, 0)));
    Pen pen(&lb, 1.4f);
    g.DrawLine(&pen, x0, ly, x1, ly);
    PointF d[4] = {{x0 - side * 8, ly}, {x0 - side * 3, ly - 4}, {x0 + side * 2, ly}, {x0 - side * 3, ly + 4}};
    SolidBrush db(C(kGold));
    g.FillPolygon(&db, d, 4);
  }
  Text(g, L"游 戏 盒 子  ·  畅 享 经 典", kUiFace, 15, FontStyleRegular, 0xFFD9C9A0,
       RectF(cx - 115, ly - 11, 230, 22), StringAlignmentCenter);
}

void PaintLogo(Graphics& g, const RectF& r) {
  float cy = r.Y + r.Height / 2;
  Glow(g, r.X + 24, cy, 26, 26, 0x50EDB24A);
  Emblem(g, r.X + 24, cy, 20, kGoldHi, 0xFF3A2A10, 0xFF120C04);
  GraphicsPath t;
  TextPath(t, L"T", kLatinFace, 24, FontStyleBold, PointF(0, 0));
  RectF tb;
  t.GetBounds(&tb);
  Matrix m;
  m.Translate(r.X + 24 - tb.X - tb.Width / 2, cy - tb.Y - tb.Height / 2);
  t.Transform(&m);
  LinearGradientBrush tf(RectF(r.X + 12, cy - 12, 24, 24), C(kGoldHi), C(kGoldLo), LinearGradientModeVertical);
  g.FillPath(&tf, &t);
  Text(g, L"TARNWICK", kLatinFace, 21, FontStyleBold, kText, RectF(r.X + 52, r.Y + 3, r.Width - 52, 26));
  Text(g, L"游戏盒子 · GAME BOX", kUiFace, 11, FontStyleRegular, kGold, RectF(r.X + 53, r.Y + 27, r.Width - 53, 16));
}

void PaintDecoration(Graphics& g, const RectF& r) {
  RectF pill(r.X + 30, r.Y + 2, r.Width - 34, r.Height - 4);
  LinearGradientBrush b(pill, C(0xFFFF7A45), C(0xFFD9363E), LinearGradientModeHorizontal);
  FillRound(g, b, pill, pill.Height / 2);
  StrokeRound(g, 0x60FFFFFF, 1, Inset(pill, 0.5f, 0.5f), pill.Height / 2);
  GraphicsPath star;
  Star(star, pill.X + 10, pill.Y + pill.Height / 2, 5.5f, 2.4f);
  SolidBrush white(C(0xFFFFFFFF));
  g.FillPath(&white, &star);
  Text(g, L"推荐", kUiFace, 11.5f, FontStyleBold, 0xFFFFFFFF, RectF(pill.X + 17, pill.Y, pill.Width - 19, pill.Height),
       StringAlignmentCenter);
}

void PaintSeparator(Graphics& g, const RectF& r) {
  SolidBrush dark(C(0xFF06080D));
  g.FillRectangle(&dark, r);
  float mid = r.Y + r.Height / 2;
  LinearGradientBrush lb(RectF(r.X - 1, mid, r.Width + 2, 1), C(0), C(0), LinearGradientModeHorizontal);
  Color lc[3] = {C(0x002E3A50), C(0xFF3A4A66), C(0x002E3A50)};
  REAL lp[3] = {0, 0.5f, 1};
  lb.SetInterpolationColors(lc, lp, 3);
  g.FillRectangle(&lb, RectF(r.X, mid - 0.5f, r.Width, 1));
}

void PaintServerPanel(Graphics& g, const RectF& r) {
  RectF p = Inset(r, 0.5f, 0.5f);
  LinearGradientBrush b(p, C(0xC0121A28), C(0xC0090D14), LinearGradientModeVertical);
  FillRound(g, b, p, 7);
  StrokeRound(g, WithAlpha(kGold, 90), 1, p, 7);
  float cy = r.Y + r.Height / 2;
  Glow(g, r.X + 28, cy, 12, 12, 0x8040D080);
  SolidBrush dot(C(0xFF4BE08A));
  g.FillEllipse(&dot, r.X + 23.5f, cy - 4.5f, 9.f, 9.f);
}

void PaintBigButton(Graphics& g, const RectF& r0, Look look, std::wstring_view text, bool start) {
  bool down = look == Look::Pressed;
  RectF r = Inset(r0, 8, 8);
  if (down) r.Offset(0, 1);
  ARGB hi = start ? kGoldHi : kIceHi, mid = start ? kGold : kIce, lo = start ? kGoldLo : kIceLo;
  if (look == Look::Disabled) hi = 0xFF7C8494, mid = 0xFF5A6272, lo = 0xFF3C4250;
  // Outer glow.
  if (look != Look::Disabled) {
    int a = look == Look::Hover ? 70 : 40;
    for (int i = 1; i <= 3; ++i) StrokeRound(g, WithAlpha(mid, a / i), 2.f * i, Inset(r, -1.f * i, -1.f * i), 12 + i);
  }
  LinearGradientBrush face(RectF(r.X, r.Y - 1, r.Width, r.Height + 2), C(hi), C(lo), LinearGradientModeVertical);
  Color fc[3] = {C(hi), C(mid), C(lo)};
  REAL fp[3] = {0, 0.45f, 1};
  if (look == Look::Hover) fc[1] = C(hi);
  if (down) fc[0] = C(mid);
  face.SetInterpolationColors(fc, fp, 3);
  FillRound(g, face, r, 12);
  // Gloss on the upper half and a thin rim.
  RectF gloss(r.X + 3, r.Y + 2, r.Width - 6, r.Height * 0.45f);
  LinearGradientBrush gb(RectF(gloss.X, gloss.Y - 1, gloss.Width, gloss.Height + 2), C(0x50FFFFFF), C(0x00FFFFFF),
                         LinearGradientModeVertical);
  FillRound(g, gb, gloss, 10);
  StrokeRound(g, start ? 0xFF6B3F08 : 0xFF0B3360, 1.2f, r, 12);
  StrokeRound(g, 0x40FFFFFF, 1, Inset(r, 1.5f, 1.5f), 10.5f);
  ARGB ink = look == Look::Disabled ? 0xFFD0D4DA : (start ? 0xFF3A2204 : 0xFFFFFFFF);
  // Icon: a play triangle or a download arrow, then the caption.
  float textW;
  {
    Font font(FamilyFor(kUiFace), 26, FontStyleBold, UnitPixel);
    RectF used;
    g.MeasureString(text.data(), static_cast<INT>(text.size()), &font, PointF(0, 0), &used);
    textW = used.Width;
  }
  float iconW = 26, gap = 10;
  float x0 = r.X + (r.Width - (iconW + gap + textW)) / 2;
  float cy = r.Y + r.Height / 2;
  SolidBrush inkBrush(C(ink));
  if (start) {
    GraphicsPath tri;
    PointF pts[3] = {{x0 + 4, cy - 11}, {x0 + 24, cy}, {x0 + 4, cy + 11}};
    tri.AddPolygon(pts, 3);
    g.FillPath(&inkBrush, &tri);
  } else {
    Pen pen(C(ink), 3.2f);
    pen.SetStartCap(LineCapRound);
    pen.SetEndCap(LineCapRound);
    pen.SetLineJoin(LineJoinRound);
    float ax = x0 + 13;
    g.DrawLine(&pen, ax, cy - 12, ax, cy + 4);
    PointF head[3] = {{ax - 8, cy - 3}, {ax, cy + 5}, {ax + 8, cy - 3}};
    g.DrawLines(&pen, head, 3);
    g.DrawLine(&pen, x0 + 2, cy + 12, x0 + 24, cy + 12);
  }
  if (!start && look != Look::Disabled) {
    Text(g, text, kUiFace, 26, FontStyleBold, 0x60000000, RectF(x0 + iconW + gap + 1, r.Y + 1, r.Width, r.Height));
  }
  Text(g, text, kUiFace, 26, FontStyleBold, ink, RectF(x0 + iconW + gap, r.Y, r.Width, r.Height));
}

void PaintVersionButton(Graphics& g, const RectF& r, Look look, std::wstring_view text, int index) {
  bool sel = look == Look::Selected;
  ARGB top = 0xFF131B29, bottom = 0xFF0D131D;
  if (look == Look::Hover) top = 0xFF1B2538, bottom = 0xFF121A28;
  if (look == Look::Pressed) top = 0xFF0E1520, bottom = 0xFF131B29;
  if (sel) {
    LinearGradientBrush b(RectF(r.X - 1, r.Y, r.Width + 2, r.Height), C(0xFF3A2E16), C(0xFF121A27),
                          LinearGradientModeHorizontal);
    g.FillRectangle(&b, r);
  } else {
    VGradient(g, r, top, bottom);
  }
  // Inner top highlight.
  SolidBrush hl(C(0x14FFFFFF));
  g.FillRectangle(&hl, RectF(r.X, r.Y, r.Width, 1));
  if (sel) {
    LinearGradientBrush bar(RectF(r.X, r.Y - 1, 4, r.Height + 2), C(kGoldHi), C(kGoldLo), LinearGradientModeVertical);
    g.FillRectangle(&bar, RectF(r.X, r.Y, 4, r.Height));
    Glow(g, r.X + 4, r.Y + r.Height / 2, 40, r.Height / 2, 0x30EDB24A);
  }
  bool off = look == Look::Disabled;
  float cy = r.Y + r.Height / 2;
  ARGB rim = sel ? kGoldHi : (look == Look::Hover ? 0xFF9FB2CC : 0xFF56657E);
  if (off) rim = 0xFF3A4456;
  Emblem(g, r.X + 40, cy, 22, rim, sel ? 0xFF4A3512 : 0xFF1C2638, sel ? 0xFF1A1206 : 0xFF0C111A);
  static const wchar_t* const kNumerals[] = {L"", L"I", L"II", L"III", L"IV"};
  Text(g, kNumerals[index >= 0 && index <= 4 ? index : 0], kLatinFace, 15, FontStyleBold,
       sel ? kGoldHi : (off ? 0xFF4A5466 : 0xFFC5D0E0), RectF(r.X + 18, cy - 22, 44, 44), StringAlignmentCenter);
  ARGB name = sel ? kGoldHi : (look == Look::Hover ? 0xFFFFFFFF : kText);
  if (off) name = 0xFF5A6478;
  bool empty = text.empty();
  Text(g, empty ? std::wstring_view(L"敬请期待") : text, kUiFace, 17, FontStyleBold, empty ? kMuted : name,
       RectF(r.X + 74, cy - 24, r.Width - 80, 28));
  wchar_t sub[16];
  swprintf(sub, 16, L"VERSION 0%d", index);
  Text(g, sub, kLatinFace, 10, FontStyleRegular, sel ? WithAlpha(kGold, 200) : 0xFF5E6A80,
       RectF(r.X + 75, cy + 4, r.Width - 80, 18));
}

void PaintLinkButton(Graphics& g, const RectF& r, Look look, std::wstring_view text) {
  ARGB ink = 0xFFC9D3E2;
  if (look == Look::Hover || look == Look::Selected) ink = kGoldHi;
  if (look == Look::Pressed) ink = kGold;
  if (look == Look::Disabled) ink = 0xFF5A6478;
  if (look == Look::Hover || look == Look::Pressed) {
    SolidBrush bg(C(look == Look::Pressed ? 0x30000000 : 0x18FFFFFF));
    FillRound(g, bg, Inset(r, 0.5f, 0.5f), 5);
    LinearGradientBrush ul(RectF(r.X + 16, r.Y + r.Height - 2, r.Width - 32, 2), C(0), C(0),
                           LinearGradientModeHorizontal);
    Color uc[3] = {C(0x00EDB24A), C(0xFFEDB24A), C(0x00EDB24A)};
    REAL up[3] = {0, 0.5f, 1};
    ul.SetInterpolationColors(uc, up, 3);
    g.FillRectangle(&ul, RectF(r.X + 16, r.Y + r.Height - 2, r.Width - 32, 2));
  }
  Text(g, text, kUiFace, 14, FontStyleRegular, ink, r, StringAlignmentCenter);
}

void Cross(Graphics& g, float cx, float cy, float half, ARGB colour, float width) {
  Pen pen(C(colour), width);
  pen.SetStartCap(LineCapRound);
  pen.SetEndCap(LineCapRound);
  g.DrawLine(&pen, cx - half, cy - half, cx + half, cy + half);
  g.DrawLine(&pen, cx - half, cy + half, cx + half, cy - half);
}

}  // namespace

Art ArtFor(ui::Role role) {
  using R = ui::Role;
  switch (role) {
    case R::Button: return Art::Button;
    case R::LinkButton: return Art::LinkButton;
    case R::Minimise: return Art::Minimise;
    case R::Close: return Art::Close;
    case R::DialogClose: return Art::DialogClose;
    case R::Version1:
    case R::Version2:
    case R::Version3:
    case R::Version4: return Art::VersionButton;
    case R::StartButton: return Art::StartButton;
    case R::InstallButton: return Art::InstallButton;
    case R::Picture: return Art::Picture;
    case R::Logo: return Art::Logo;
    case R::Separator: return Art::Separator;
    case R::Background: return Art::Background;
    case R::Banner: return Art::Banner;
    case R::Decoration: return Art::Decoration;
    case R::ServerPanel: return Art::ServerPanel;
    default: return Art::None;  // labels and single-look kinds
  }
}

int VersionIndex(ui::Role role) {
  switch (role) {
    case ui::Role::Version1: return 1;
    case ui::Role::Version2: return 2;
    case ui::Role::Version3: return 3;
    case ui::Role::Version4: return 4;
    default: return 0;
  }
}

bool IsStaticArt(Art art) {
  return art == Art::Background || art == Art::Banner || art == Art::Logo || art == Art::Decoration ||
         art == Art::ServerPanel;
}

void PaintFrame(Graphics& g, ui::WindowId id, float w, float h) {
  if (id == ui::WindowId::Main) {
    VGradient(g, RectF(0, 0, w, h), 0xFF0E141F, kInk);
    // The version column.
    VGradient(g, RectF(0, 0, 208, h), 0xFF111827, 0xFF080B11);
    for (int i = 0; i < 36; ++i) {
      // Faint diagonal hatching below the version buttons.
      Pen pen(C(0x08FFFFFF), 1);
      float x = -200.f + i * 12.f;
      g.DrawLine(&pen, x, h, x + 200, h - 200);
    }
    SolidBrush edge(C(0xFF1E2738));
    g.FillRectangle(&edge, RectF(207, 0, 1, h));
    Text(g, L"健康游戏 · 快乐生活", kUiFace, 12, FontStyleRegular, 0xFF4A5468, RectF(0, h - 40, 208, 24),
         StringAlignmentCenter);
    return;
  }
  VGradient(g, RectF(0, 0, w, h), 0xFF151E2D, 0xFF0A0F17);
  Glow(g, w * 0.8f, 0, w * 0.5f, h * 0.6f, 0x202C9BDB);
  bool settings = id == ui::WindowId::Settings;
  float header = settings ? 48.f : 34.f;
  VGradient(g, RectF(0, 0, w, header), 0xFF1A2436, 0xFF111927);
  LinearGradientBrush line(RectF(-1, header - 1, w + 2, 1), C(0), C(0), LinearGradientModeHorizontal);
  Color lc[3] = {C(WithAlpha(kGold, 0)), C(WithAlpha(kGold, 200)), C(WithAlpha(kGold, 0))};
  REAL lp[3] = {0, 0.35f, 1};
  line.SetInterpolationColors(lc, lp, 3);
  g.FillRectangle(&line, RectF(0, header - 1, w, 1));
  float iconC = header / 2;
  Emblem(g, 14 + 9, iconC, 9, kGoldHi, 0xFF3A2A10, 0xFF120C04);
  Text(g, settings ? L"游戏设置" : L"提示", kUiFace, settings ? 16.f : 14.f, FontStyleBold, kText,
       RectF(38, 0, 200, header));
  // A quiet footer note.
  RectF foot(0, h - (settings ? 44.f : 40.f), w, settings ? 44.f : 40.f);
  SolidBrush footBg(C(0x30000000));
  g.FillRectangle(&footBg, foot);
  SolidBrush footLine(C(0xFF1C2536));
  g.FillRectangle(&footLine, RectF(0, foot.Y, w, 1));
  Text(g, settings ? L"修改即时保存，下次启动游戏时生效" : L"敬请关注后续开放，感谢您的支持", kUiFace, 12,
       FontStyleRegular, 0xFF6A7588, RectF(20, foot.Y, w - 40, foot.Height), settings ? StringAlignmentNear : StringAlignmentCenter);
  if (!settings) {
    // An information mark beside the message.
    float cx = 54, cy = 93;
    Glow(g, cx, cy, 22, 22, 0x40EDB24A);
    LinearGradientBrush b(RectF(cx - 14, cy - 15, 28, 30), C(kGoldHi), C(kGoldLo), LinearGradientModeVertical);
    g.FillEllipse(&b, cx - 14, cy - 14, 28.f, 28.f);
    Text(g, L"i", kLatinFace, 19, FontStyleBold, 0xFF2A1804, RectF(cx - 14, cy - 14, 28, 28), StringAlignmentCenter);
  }
}

void PaintFrameBorder(Graphics& g, ui::WindowId id, float w, float h) {
  Pen outer(C(0xFF2C3850), 1);
  g.DrawRectangle(&outer, RectF(0.5f, 0.5f, w - 1, h - 1));
  Pen inner(C(0x10FFFFFF), 1);
  g.DrawRectangle(&inner, RectF(1.5f, 1.5f, w - 3, h - 3));
}

void PaintPictureArt(Graphics& g, Art art, const RectF& r) {
  switch (art) {
    case Art::Logo: PaintLogo(g, r); break;
    case Art::Separator: PaintSeparator(g, r); break;
    case Art::Background: PaintBackground(g, r); break;
    case Art::Banner: PaintBanner(g, r); break;
    case Art::Decoration: PaintDecoration(g, r); break;
    case Art::ServerPanel: PaintServerPanel(g, r); break;
    default: break;
  }
}

void PaintButton(Graphics& g, Art art, const RectF& r, Look look, std::wstring_view text, int index, bool focused) {
  switch (art) {
    case Art::StartButton: PaintBigButton(g, r, look, text, true); break;
    case Art::InstallButton: PaintBigButton(g, r, look, text, false); break;
    case Art::VersionButton: PaintVersionButton(g, r, look, text, index); break;
    case Art::LinkButton: PaintLinkButton(g, r, look, text); break;
    case Art::Minimise: {
      ARGB c = look == Look::Hover || look == Look::Pressed ? 0xFFFFFFFF : 0xFFAEB8C8;
      SolidBrush b(C(c));
      FillRound(g, b, RectF(r.X + r.Width / 2 - 10, r.Y + r.Height / 2 - 1.25f, 20, 2.5f), 1.25f);
      break;
    }
    case Art::Close: {
      float cx = r.X + r.Width / 2, cy = r.Y + r.Height / 2;
      if (look == Look::Hover || look == Look::Pressed) {
        SolidBrush b(C(look == Look::Pressed ? 0xFFB3343B : kRed));
        g.FillEllipse(&b, cx - 13, cy - 13, 26.f, 26.f);
      } else {
        Pen ring(C(0x50AEB8C8), 1.2f);
        g.DrawEllipse(&ring, cx - 12.5f, cy - 12.5f, 25.f, 25.f);
      }
      Cross(g, cx, cy, 5, look == Look::Normal ? 0xFFC4CCD8 : 0xFFFFFFFF, 1.8f);
      break;
    }
    case Art::DialogClose: {
      float cx = r.X + r.Width / 2, cy = r.Y + r.Height / 2;
      if (look == Look::Hover || look == Look::Pressed) {
        SolidBrush b(C(look == Look::Pressed ? 0xFFB3343B : kRed));
        FillRound(g, b, Inset(r, 4, 4), 5);
      }
      Cross(g, cx, cy, 5.5f, look == Look::Normal ? 0xFFA8B2C2 : 0xFFFFFFFF, 1.8f);
      break;
    }
    default: {
      // A plain skinned button for anything without its own art.
      RectF b = Inset(r, 0.5f, 0.5f);
      VGradient(g, b, look == Look::Hover ? 0xFF2A3854 : 0xFF1E283C, 0xFF141B29, 5);
      StrokeRound(g, look == Look::Hover ? kGold : kLine, 1, b, 5);
      Text(g, text, kUiFace, 14, FontStyleRegular, look == Look::Disabled ? kMuted : kText, r, StringAlignmentCenter);
      break;
    }
  }
  if (focused && art != Art::VersionButton) {
    Pen dots(C(0x90EDB24A), 1);
    dots.SetDashStyle(DashStyleDot);
    g.DrawRectangle(&dots, Inset(r, 1.5f, 1.5f));
  }
}

LabelStyle LabelStyleFor(ui::Role role) {
  switch (role) {
    case ui::Role::AgeNotice: return {12, FontStyleRegular, 0xFF9AA6B8};
    case ui::Role::NoticeTitle: return {16, FontStyleBold, kGold};
    case ui::Role::NoticeLine: return {13, FontStyleRegular, 0xFF8C97A9};
    case ui::Role::ServerCaption: return {15, FontStyleRegular, 0xFFC9D3E2};
    case ui::Role::LastLogin: return {16, FontStyleBold, kGoldHi};
    case ui::Role::ProgressText: return {13, FontStyleRegular, 0xFFDCE6F2};
    default: return {15, FontStyleRegular, kText};
  }
}

void PaintLabel(Graphics& g, const RectF& r, std::wstring_view text, std::wstring_view face, const LabelStyle& s) {
  // Wider than the box so a long text is not clipped mid-glyph by layout rounding.
  Text(g, text, face.empty() ? kUiFace : face, s.size, s.style, 0xA0000000, RectF(r.X + 1, r.Y + 1, r.Width, r.Height));
  Text(g, text, face.empty() ? kUiFace : face, s.size, s.style, s.colour, r);
}

void PaintCheckBox(Graphics& g, const RectF& r, bool checked, Look look, bool focused) {
  float s = 20;
  RectF box(r.X + (r.Width - s) / 2 - 8, r.Y + (r.Height - s) / 2 + 2, s, s);
  if (checked) {
    LinearGradientBrush b(RectF(box.X, box.Y - 1, s, s + 2), C(kGoldHi), C(kGoldLo), LinearGradientModeVertical);
    FillRound(g, b, box, 4);
    Pen pen(C(0xFF2A1804), 2.4f);
    pen.SetStartCap(LineCapRound);
    pen.SetEndCap(LineCapRound);
    pen.SetLineJoin(LineJoinRound);
    PointF tick[3] = {{box.X + 4.5f, box.Y + 10.5f}, {box.X + 8.5f, box.Y + 14.5f}, {box.X + 15.5f, box.Y + 6}};
    g.DrawLines(&pen, tick, 3);
  } else {
    VGradient(g, box, 0xFF0B1018, 0xFF141C2A, 4);
  }
  ARGB rim = look == Look::Hover || focused ? kGold : (checked ? kGoldLo : 0xFF3E4C66);
  if (look == Look::Disabled) rim = 0xFF2A3446;
  StrokeRound(g, rim, 1.2f, box, 4);
}

void PaintComboBox(Graphics& g, const RectF& r0, std::wstring_view text, Look look, bool open, bool focused) {
  RectF r = Inset(r0, 0.5f, 0.5f);
  VGradient(g, r, 0xFF0C1119, 0xFF131B28, 6);
  ARGB rim = open || focused ? kGold : (look == Look::Hover ? 0xFF6A7C9C : 0xFF3E4C66);
  StrokeRound(g, rim, 1.2f, r, 6);
  Text(g, text, kUiFace, 14, FontStyleRegular, look == Look::Disabled ? kMuted : kText,
       RectF(r.X + 12, r.Y, r.Width - 40, r.Height));
  SolidBrush sep(C(0xFF263248));
  g.FillRectangle(&sep, RectF(r.X + r.Width - 30, r.Y + 7, 1, r.Height - 14));
  float cx = r.X + r.Width - 15, cy = r.Y + r.Height / 2;
  Pen pen(C(kGold), 1.8f);
  pen.SetStartCap(LineCapRound);
  pen.SetEndCap(LineCapRound);
  pen.SetLineJoin(LineJoinRound);
  float d = open ? -1.f : 1.f;
  PointF chevron[3] = {{cx - 5, cy - 2.5f * d}, {cx, cy + 2.5f * d}, {cx + 5, cy - 2.5f * d}};
  g.DrawLines(&pen, chevron, 3);
}

void PaintDropList(Graphics& g, const RectF& r, const std::vector<std::wstring>& items, int selected, int hot) {
  SolidBrush bg(C(0xFF111825));
  g.FillRectangle(&bg, r);
  for (size_t i = 0; i < items.size(); ++i) {
    RectF row(r.X + 3, r.Y + 3 + i * kDropItemHeight, r.Width - 6, kDropItemHeight);
    bool isHot = static_cast<int>(i) == hot, isSel = static_cast<int>(i) == selected;
    if (isHot) {
      LinearGradientBrush b(RectF(row.X - 1, row.Y, row.Width + 2, row.Height), C(0x60EDB24A), C(0x10EDB24A),
                            LinearGradientModeHorizontal);
      FillRound(g, b, row, 4);
    }
    Text(g, items[i], kUiFace, 14, FontStyleRegular, isSel ? kGoldHi : (isHot ? 0xFFFFFFFF : 0xFFC9D3E2),
         RectF(row.X + 10, row.Y, row.Width - 36, row.Height));
    if (isSel) {
      Pen pen(C(kGold), 1.8f);
      pen.SetStartCap(LineCapRound);
      pen.SetEndCap(LineCapRound);
      float x = row.X + row.Width - 22, y = row.Y + row.Height / 2;
      PointF tick[3] = {{x, y}, {x + 3.5f, y + 3.5f}, {x + 10, y - 4}};
      g.DrawLines(&pen, tick, 3);
    }
  }
  Pen rim(C(0xFF4A5A78), 1);
  g.DrawRectangle(&rim, RectF(r.X + 0.5f, r.Y + 0.5f, r.Width - 1, r.Height - 1));
}

void PaintProgress(Graphics& g, const RectF& r0, double fraction) {
  RectF r = Inset(r0, 0.5f, 1.5f);
  float rad = r.Height / 2;
  VGradient(g, r, 0xFF06090E, 0xFF101724, rad);
  StrokeRound(g, 0xFF24304A, 1, r, rad);
  if (!(fraction > 0)) return;
  if (fraction > 1) fraction = 1;
  RectF f(r.X + 1.5f, r.Y + 1.5f, static_cast<float>((r.Width - 3) * fraction), r.Height - 3);
  if (f.Width < f.Height) f.Width = f.Height;
  LinearGradientBrush b(RectF(r.X, r.Y, r.Width + 1, r.Height), C(kIceLo), C(kIceHi), LinearGradientModeHorizontal);
  Color bc[3] = {C(kIceLo), C(kIce), C(kIceHi)};
  REAL bp[3] = {0, 0.6f, 1};
  b.SetInterpolationColors(bc, bp, 3);
  FillRound(g, b, f, f.Height / 2);
  LinearGradientBrush gloss(RectF(f.X, f.Y - 1, f.Width, f.Height / 2 + 2), C(0x60FFFFFF), C(0x00FFFFFF),
                            LinearGradientModeVertical);
  FillRound(g, gloss, RectF(f.X + 2, f.Y + 1, f.Width - 4, f.Height / 2), f.Height / 4);
  Glow(g, f.X + f.Width - 2, f.Y + f.Height / 2, 10, f.Height, 0xA0BFF0FF);
}

namespace {

// One line of link text in box; returns the rectangle the text takes.
RectF PaintLink(Graphics& g, std::wstring_view text, const RectF& box, bool hot, StringAlignment align, ARGB ink,
                ARGB inkHot) {
  Font font(FamilyFor(kUiFace), 15, hot ? FontStyleUnderline : FontStyleRegular, UnitPixel);
  StringFormat fmt(StringFormatFlagsNoWrap);
  fmt.SetTrimming(StringTrimmingEllipsisPath);
  RectF used;
  g.MeasureString(text.data(), static_cast<INT>(text.size()), &font, box, &fmt, &used);
  // Centred by hand from the measured width: where the text lands is also
  // where the link answers the mouse.
  float w = std::min(used.Width, box.Width);
  RectF at = box;
  if (align == StringAlignmentCenter) at.X = box.X + (box.Width - w) / 2, at.Width = w + 1;
  SolidBrush brush(C(hot ? inkHot : ink));
  g.DrawString(text.data(), static_cast<INT>(text.size()), &font, at, &fmt, &brush);
  if (!hot) {
    SolidBrush ul(C(WithAlpha(ink, 0x80)));
    g.FillRectangle(&ul, RectF(at.X + 1, used.Y + used.Height - 3, w - 4, 1));
  }
  return RectF(at.X, used.Y, w, used.Height);
}

// The panel's frame and its "最新公告" heading, shared by the link panel and
// the offline view.
RectF PaintPanelFrame(Graphics& g, const RectF& r0) {
  RectF r = Inset(r0, 0.5f, 0.5f);
  LinearGradientBrush bg(RectF(r.X, r.Y - 1, r.Width, r.Height + 2), C(0xD0101724), C(0xD0080B12),
                         LinearGradientModeVertical);
  FillRound(g, bg, r, 8);
  StrokeRound(g, 0x704A5A78, 1, r, 8);
  LinearGradientBrush bar(RectF(r.X + 24, r.Y + 20, 4, 20), C(kGoldHi), C(kGoldLo), LinearGradientModeVertical);
  g.FillRectangle(&bar, RectF(r.X + 24, r.Y + 21, 4, 18));
  Text(g, L"最新公告", kUiFace, 17, FontStyleBold, kText, RectF(r.X + 36, r.Y + 16, 300, 28));
  LinearGradientBrush line(RectF(r.X + 23, r.Y + 55, r.Width - 46, 1), C(0xFF34425C), C(0x0034425C),
                           LinearGradientModeHorizontal);
  g.FillRectangle(&line, RectF(r.X + 24, r.Y + 55, r.Width - 48, 1));
  return r;
}

}  // namespace

RectF PaintBrowserPanel(Graphics& g, const RectF& r0, std::wstring_view address, bool linkHot) {
  RectF r = PaintPanelFrame(g, r0);
  if (address.empty()) {
    Text(g, L"暂无公告", kUiFace, 15, FontStyleRegular, kMuted, RectF(r.X + 24, r.Y + 70, r.Width - 48, 28));
    return RectF();
  }
  Text(g, L"本机暂无网页组件，请点击下面的地址在浏览器中查看公告：", kUiFace, 14, FontStyleRegular, kMuted,
       RectF(r.X + 24, r.Y + 70, r.Width - 48, 26));
  return PaintLink(g, address, RectF(r.X + 24, r.Y + 102, r.Width - 48, 24), linkHot, StringAlignmentNear,
                   0xFF4FB8EE, kIceHi);
}

OfflineLinks PaintOfflinePanel(Graphics& g, const RectF& r0, std::wstring_view address, int hotLink) {
  RectF r = PaintPanelFrame(g, r0);
  float cx = r.X + r.Width / 2, top = r.Y + 84;
  // A dimmed beacon with a gap: the page did not come through.
  Pen ring(C(WithAlpha(kMuted, 0xB0)), 2.5f);
  ring.SetStartCap(LineCapRound);
  ring.SetEndCap(LineCapRound);
  g.DrawArc(&ring, RectF(cx - 22, top, 44, 44), -60, 300);
  SolidBrush dot(C(kGold));
  g.FillEllipse(&dot, RectF(cx - 3, top + 27, 6, 6));
  g.FillRectangle(&dot, RectF(cx - 1.5f, top + 10, 3, 13));
  Text(g, L"公告暂时无法显示", kUiFace, 20, FontStyleBold, kText, RectF(r.X + 24, top + 58, r.Width - 48, 32),
       StringAlignmentCenter);
  OfflineLinks links;
  if (!address.empty())
    links.address = PaintLink(g, address, RectF(r.X + 48, top + 100, r.Width - 96, 24), hotLink == 1,
                              StringAlignmentCenter, 0xFF4FB8EE, kIceHi);
  links.retry = PaintLink(g, L"重试", RectF(r.X + 48, top + 136, r.Width - 96, 24), hotLink == 2,
                          StringAlignmentCenter, kGold, kGoldHi);
  return links;
}

}  // namespace ui::win32
