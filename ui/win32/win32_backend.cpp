#include "ui/win32/win32_backend.h"

#include <ole2.h>
#include <windowsx.h>

#include <cmath>
#include <functional>
#include <string_view>

#include "platform/names.h"
#include "platform/system.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide.h"
#include "ui/designs.h"

namespace ui::win32 {
namespace {

using namespace Gdiplus;
using platform::win32::PaintDc;
using platform::win32::SelectedObject;
using platform::win32::UniqueGdiObject;
using platform::win32::UniqueMemoryDc;
using platform::win32::UniqueWindow;
using platform::win32::Widen;
using platform::win32::WindowDc;

constexpr wchar_t kWindowClass[] = L"TarnwickSkinWindow";
constexpr wchar_t kDropClass[] = L"TarnwickDropList";
constexpr wchar_t kWakeClass[] = L"TarnwickWake";
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kTimerBase = 1000;
constexpr UINT_PTR kRetryTimer = 999;  // the offline view's retry check
constexpr UINT kRetryCheckMs = 1000;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

int MonitorDpi(HMONITOR monitor) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static GetDpiForMonitorFn fn = [] {
    HMODULE shcore = platform::win32::LoadSystemLibrary(L"shcore.dll");
    return shcore ? reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void (*)()>(::GetProcAddress(shcore, "GetDpiForMonitor"))) : nullptr;
  }();
  UINT x = 0, y = 0;
  if (fn && monitor && SUCCEEDED(fn(monitor, 0, &x, &y)) && x > 0) return static_cast<int>(x);
  int dpi = ::GetDeviceCaps(WindowDc(nullptr).get(), LOGPIXELSX);
  return dpi > 0 ? dpi : 96;
}

RECT WorkArea(HMONITOR monitor) {
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (monitor && ::GetMonitorInfoW(monitor, &mi)) return mi.rcWork;
  RECT r{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return r;
}

std::size_t HashBytes(const std::vector<std::uint8_t>& b) {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(b.data()), b.size())) ^ b.size();
}

void SetupQuality(Graphics& g) {
  g.SetSmoothingMode(SmoothingModeAntiAlias);
  g.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
  g.SetPixelOffsetMode(PixelOffsetModeHalf);
  g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
}

void DrawOneToOne(Graphics& g, Bitmap* bmp, int x, int y) {
  int w = static_cast<int>(bmp->GetWidth()), h = static_cast<int>(bmp->GetHeight());
  g.DrawImage(bmp, Gdiplus::Rect(x, y, w, h), 0, 0, w, h, UnitPixel);
}

}  // namespace

Win32Backend::Win32Backend() {
  EnsureGdiplus();
  HINSTANCE inst = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = ::LoadIconW(inst, MAKEINTRESOURCEW(1));
  wc.lpszClassName = kWindowClass;
  ::RegisterClassExW(&wc);
  WNDCLASSEXW dc{};
  dc.cbSize = sizeof dc;
  dc.style = CS_DROPSHADOW;
  dc.lpfnWndProc = DropProc;
  dc.hInstance = inst;
  dc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  dc.lpszClassName = kDropClass;
  ::RegisterClassExW(&dc);
  WNDCLASSEXW kc{};
  kc.cbSize = sizeof kc;
  kc.lpfnWndProc = WakeProc;
  kc.hInstance = inst;
  kc.lpszClassName = kWakeClass;
  ::RegisterClassExW(&kc);
  wakeWindow_.reset(::CreateWindowExW(0, kWakeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, inst, this));
  for (int i = 0; i < ui::kWindowCount; ++i) {
    windows_[i].owner = this;
    windows_[i].id = static_cast<ui::WindowId>(i);
  }
}

Win32Backend::~Win32Backend() {
  for (int i = 0; i < ui::kWindowCount; ++i)
    if (windows_[i].hwnd.get()) DestroyWindowFor(static_cast<ui::WindowId>(i));
  wakeWindow_.reset();
  if (oleReady_) ::OleUninitialize();
}

// ---------------------------------------------------------------- windows

bool Win32Backend::CreateWindowFor(ui::WindowId id, bool modal) {
  Win& w = W(id);
  if (w.hwnd.get()) DestroyWindowFor(id);
  const ui::WindowSpec& layout = ui::DesignOf(id);
  w.modal = modal;
  w.designW = layout.width;
  w.designH = layout.height;
  w.hot = w.pressed = w.focus = -1;
  w.hotLink = w.pressedLink = 0;
  w.showFocus = false;

  // Views over the control states, with absolute design rectangles.
  w.views.clear();
  std::vector<const ui::ControlState*> states = ui_->Controls(id);
  for (const ui::ControlState* s : states) {
    View v;
    v.state = s;
    v.art = ArtFor(s->design->role);
    v.index = VersionIndex(s->design->role);
    v.rect = RectF(static_cast<REAL>(s->design->rect.x), static_cast<REAL>(s->design->rect.y),
                   static_cast<REAL>(s->design->rect.w), static_cast<REAL>(s->design->rect.h));
    w.views.push_back(std::move(v));
  }
  for (View& v : w.views) {
    if (v.state->design->container.empty()) continue;
    for (size_t j = 0; j < w.views.size(); ++j) {
      if (w.views[j].state->design->name == v.state->design->container) {
        v.container = static_cast<int>(j);
        v.rect.X += w.views[j].rect.X;
        v.rect.Y += w.views[j].rect.Y;
      }
    }
  }

  POINT origin{50, 50};
  HMONITOR monitor = ::MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
  HWND owner = id == ui::WindowId::Main ? nullptr : W(ui::WindowId::Main).hwnd.get();
  // WM_NCCREATE hands the window to w.hwnd.get() before this returns.
  HWND created = ::CreateWindowExW(id == ui::WindowId::Main ? WS_EX_APPWINDOW : 0, kWindowClass,
                                   Widen(layout.title).c_str(), WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU | WS_CLIPCHILDREN,
                                   layout.x, layout.y, layout.width, layout.height, owner, nullptr,
                                   ::GetModuleHandleW(nullptr), &w);
  if (!created) {
    (void)w.hwnd.release();  // a failed creation is destroyed by the system
    w.views.clear();
    return false;
  }
  ApplyScale(w, MonitorDpi(monitor), nullptr);

  for (View& v : w.views) {
    if (v.state->design->kind != ui::Kind::WebBrowserEx) continue;
    if (!oleReady_) oleReady_ = SUCCEEDED(::OleInitialize(nullptr));
    if (oleReady_) {
      BrowserCallbacks callbacks;
      std::string name(v.state->design->name);
      callbacks.loaded = [this, id, name] { ui_->PageLoaded(id, name); };
      callbacks.failed = [this, id, name] { ui_->PageFailed(id, name); };
      callbacks.openInBrowser = [](const std::string& url) {
        (void)platform::OpenInBrowser(url);  // shell failures are not reported
      };
      v.browser = CreateBrowserHost(w.hwnd.get(), std::move(callbacks));
    }
    PlaceBrowser(w, v);
  }
  return true;
}

void Win32Backend::ApplyScale(Win& w, int dpi, const RECT* suggested) {
  // Design units are 96-dpi pixels; shrink further when the window would
  // not fit the monitor's work area.
  RECT probe = suggested ? *suggested : RECT{50, 50, 51, 51};
  HMONITOR monitor = ::MonitorFromRect(&probe, MONITOR_DEFAULTTONEAREST);
  RECT work = WorkArea(monitor);
  float scale = static_cast<float>(dpi) / 96.f;
  float workW = static_cast<float>(work.right - work.left), workH = static_cast<float>(work.bottom - work.top);
  if (workW > 0 && workH > 0) scale = std::min({scale, workW / w.designW, workH / w.designH});
  w.dpi = dpi;
  w.scale = scale;
  int pw = static_cast<int>(std::lround(w.designW * scale)), ph = static_cast<int>(std::lround(w.designH * scale));
  int x, y;
  if (suggested) {
    x = suggested->left;
    y = suggested->top;
  } else {
    x = work.left + static_cast<int>(std::lround(50 * static_cast<float>(dpi) / 96.f));
    y = work.top + static_cast<int>(std::lround(50 * static_cast<float>(dpi) / 96.f));
  }
  x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - pw));
  y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - ph));
  ::SetWindowPos(w.hwnd.get(), nullptr, x, y, pw, ph, SWP_NOZORDER | SWP_NOACTIVATE);
  w.frame.reset();
  for (View& v : w.views) {
    v.cache.reset();
    if (v.browser) PlaceBrowser(w, v);
  }
  ::InvalidateRect(w.hwnd.get(), nullptr, FALSE);
}

void Win32Backend::ShowWindowFor(ui::WindowId id) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  ::ShowWindow(w.hwnd.get(), SW_SHOW);
  ::UpdateWindow(w.hwnd.get());
  ::SetForegroundWindow(w.hwnd.get());
}

void Win32Backend::RunModal(ui::WindowId id) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  w.disabledByModal.clear();
  for (Win& other : windows_) {
    if (&other == &w || !other.hwnd.get() || !::IsWindowEnabled(other.hwnd.get())) continue;
    CloseDrop(other);
    ::EnableWindow(other.hwnd.get(), FALSE);
    w.disabledByModal.push_back(other.hwnd.get());
  }
  while (ui_->IsOpen(id)) Pump(true);
  for (HWND h : w.disabledByModal)
    if (::IsWindow(h)) ::EnableWindow(h, TRUE);
  w.disabledByModal.clear();
}

void Win32Backend::DestroyWindowFor(ui::WindowId id) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  // The system would take owned windows down with this one behind our back.
  for (Win& other : windows_)
    if (&other != &w && other.hwnd.get() && ::GetWindow(other.hwnd.get(), GW_OWNER) == w.hwnd.get()) DestroyWindowFor(other.id);
  CloseDrop(w);
  for (size_t i = 0; i < w.views.size(); ++i)
    if (w.views[i].timerOn) ::KillTimer(w.hwnd.get(), kTimerBase + i);
  if (w.retryTimer) ::KillTimer(w.hwnd.get(), kRetryTimer);
  w.retryTimer = false;
  // Give the windows a modal window disabled back before it goes, so the
  // system activates one of ours rather than another program.
  for (HWND h : w.disabledByModal)
    if (::IsWindow(h)) ::EnableWindow(h, TRUE);
  w.disabledByModal.clear();
  for (View& v : w.views) v.browser.reset();
  UniqueWindow hwnd = std::move(w.hwnd);
  ::SetWindowLongPtrW(hwnd.get(), GWLP_USERDATA, 0);
  hwnd.reset();
  w.views.clear();
  w.frame.reset();
  ReleaseBuffer(w);
  w.hot = w.pressed = w.focus = -1;
}

void Win32Backend::BringToFront(ui::WindowId id) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  if (::IsIconic(w.hwnd.get())) ::ShowWindow(w.hwnd.get(), SW_RESTORE);
  ::SetForegroundWindow(w.hwnd.get());
}

void Win32Backend::WindowStateChanged(ui::WindowId id, int state) {
  Win& w = W(id);
  if (!w.hwnd.get() || w.settingState) return;
  CloseDrop(w);
  ::ShowWindow(w.hwnd.get(), state == ui::kWindowMinimised ? SW_MINIMIZE : SW_RESTORE);
}

void Win32Backend::TaskbarProgressChanged(ui::WindowId id, const ui::TaskbarProgress& progress) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  if (!taskbar_ && !taskbarTried_) {
    taskbarTried_ = true;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  taskbar_.out_void())) ||
        FAILED(taskbar_->HrInit()))
      taskbar_.reset();
  }
  if (!taskbar_) return;
  TBPFLAG flag = TBPF_NOPROGRESS;
  switch (progress.state) {
    case ui::TaskbarState::None: flag = TBPF_NOPROGRESS; break;
    case ui::TaskbarState::Normal: flag = TBPF_NORMAL; break;
    case ui::TaskbarState::Paused: flag = TBPF_PAUSED; break;
    case ui::TaskbarState::Error: flag = TBPF_ERROR; break;
  }
  taskbar_->SetProgressState(w.hwnd.get(), flag);
  if (progress.state != ui::TaskbarState::None && progress.total > 0)
    taskbar_->SetProgressValue(w.hwnd.get(), static_cast<ULONGLONG>(progress.done),
                               static_cast<ULONGLONG>(progress.total));
}

// ---------------------------------------------------------------- properties

void Win32Backend::PropertyChanged(ui::WindowId id, const ui::ControlState& control, ui::Prop prop) {
  Win& w = W(id);
  if (!w.hwnd.get()) return;
  int index = -1;
  for (size_t i = 0; i < w.views.size(); ++i)
    if (w.views[i].state == &control) index = static_cast<int>(i);
  if (index < 0) return;
  View& v = w.views[static_cast<size_t>(index)];
  switch (prop) {
    case ui::Prop::Picture: {
      if (control.picture.empty()) break;  // a redraw request
      std::size_t h = HashBytes(control.picture);
      if (v.picture && h == v.pictureHash) break;
      // Bytes that don't decode keep the picture shown now.
      if (auto bmp = DecodePicture(control.picture)) {
        v.picture = std::move(bmp);
        v.pictureHash = h;
        v.cache.reset();
      }
      break;
    }
    case ui::Prop::Interval:
      UpdateTimer(w, index);
      return;
    case ui::Prop::Address:
      if (v.browser) v.browser->Navigate(control.address);
      break;
    case ui::Prop::Page:
      // The offline view is ours, drawn where the control was.
      if (v.browser) ShowBrowser(w, v);
      if (control.page == ui::PageState::Offline && !w.retryTimer && ui_->PagesAwaitingRetry())
        w.retryTimer = ::SetTimer(w.hwnd.get(), kRetryTimer, kRetryCheckMs, nullptr) != 0;
      if (w.hot == index) SetHot(w, -1, 0);
      break;
    case ui::Prop::Visible:
      if (v.browser) ShowBrowser(w, v);
      [[fallthrough]];
    case ui::Prop::Disabled:
      if (!Usable(w, index)) {
        if (w.hot == index) w.hot = -1;
        if (w.pressed == index) {
          w.pressed = -1;
          if (::GetCapture() == w.hwnd.get()) ::ReleaseCapture();
        }
        if (w.dropFor == index) CloseDrop(w);
      }
      break;
    default:
      break;
  }
  InvalidateView(w, index);
  // Children of a container follow its visibility.
  if (prop == ui::Prop::Visible)
    for (size_t i = 0; i < w.views.size(); ++i)
      if (w.views[i].container == index) InvalidateView(w, static_cast<int>(i));
}

void Win32Backend::UpdateTimer(Win& w, int index) {
  View& v = w.views[static_cast<size_t>(index)];
  UINT_PTR tid = kTimerBase + static_cast<UINT_PTR>(index);
  if (v.state->interval > 0) {
    ::SetTimer(w.hwnd.get(), tid, static_cast<UINT>(v.state->interval), nullptr);
    v.timerOn = true;
  } else if (v.timerOn) {
    ::KillTimer(w.hwnd.get(), tid);
    v.timerOn = false;
  }
}

void Win32Backend::PlaceBrowser(Win& w, View& v) {
  if (!v.browser) return;
  RECT r = DeviceRect(w, v.rect);
  v.browser->SetBounds(r);
  ShowBrowser(w, v);
}

void Win32Backend::ShowBrowser(Win& w, View& v) {
  v.browser->Show(v.state->visible && v.state->page != ui::PageState::Offline);
}

// Whether the network is up, as the system's network list sees it; up when
// it cannot tell, so only the 30 s rule applies then.
static bool NetworkUp(platform::win32::ComPtr<INetworkListManager>& list, bool& tried) {
  if (!list && !tried) {
    tried = true;
    if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                                  list.out_void())))
      list.reset();
  }
  NLM_CONNECTIVITY c;
  if (!list || FAILED(list->GetConnectivity(&c))) return true;
  return (c & (NLM_CONNECTIVITY_IPV4_INTERNET | NLM_CONNECTIVITY_IPV6_INTERNET)) != 0;
}

void Win32Backend::OnRetryTimer(Win& w) {
  ui_->CheckOfflinePages(NetworkUp(networkList_, networkListTried_));
  // The check may have closed nothing, but windows can go while it runs.
  if (w.hwnd.get() && !ui_->PagesAwaitingRetry()) {
    ::KillTimer(w.hwnd.get(), kRetryTimer);
    w.retryTimer = false;
  }
}

// ---------------------------------------------------------------- loop

void Win32Backend::Wake() {
  // Without the message window a post would land on the caller's own queue.
  if (!wakeWindow_) return;
  if (!wakePending_.exchange(true)) ::PostMessageW(wakeWindow_.get(), kWakeMessage, 0, 0);
}

void Win32Backend::Pump(bool wait) {
  MSG msg;
  if (wait && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
    ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (ui_) ui_->RunPosted();
}

LRESULT CALLBACK Win32Backend::WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  } else if (msg == kWakeMessage) {
    auto* self = reinterpret_cast<Win32Backend*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
      self->wakePending_ = false;
      if (self->ui_) self->ui_->RunPosted();
    }
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// ---------------------------------------------------------------- geometry

RECT Win32Backend::DeviceRect(const Win& w, const RectF& r) const {
  RECT d;
  d.left = static_cast<LONG>(std::floor(r.X * w.scale));
  d.top = static_cast<LONG>(std::floor(r.Y * w.scale));
  d.right = static_cast<LONG>(std::ceil((r.X + r.Width) * w.scale));
  d.bottom = static_cast<LONG>(std::ceil((r.Y + r.Height) * w.scale));
  return d;
}

void Win32Backend::InvalidateView(Win& w, int index) {
  if (!w.hwnd.get() || index < 0) return;
  RECT d = DeviceRect(w, w.views[static_cast<size_t>(index)].rect);
  ::InflateRect(&d, 2, 2);
  ::InvalidateRect(w.hwnd.get(), &d, FALSE);
}

bool Win32Backend::Shown(const Win& w, int index) const {
  for (int i = index; i >= 0; i = w.views[static_cast<size_t>(i)].container)
    if (!w.views[static_cast<size_t>(i)].state->visible) return false;
  return true;
}

bool Win32Backend::Usable(const Win& w, int index) const {
  if (index < 0 || index >= static_cast<int>(w.views.size())) return false;
  return Shown(w, index) && !w.views[static_cast<size_t>(index)].state->disabled;
}

bool Win32Backend::Focusable(const Win& w, int index) const {
  ui::Kind k = w.views[static_cast<size_t>(index)].state->design->kind;
  return (k == ui::Kind::ImageButtonEx || k == ui::Kind::CheckBoxEx || k == ui::Kind::ComboBoxEx) && Usable(w, index);
}

int Win32Backend::HitTest(Win& w, POINT p) {
  PointF d(static_cast<REAL>(p.x) / w.scale, static_cast<REAL>(p.y) / w.scale);
  for (int i = static_cast<int>(w.views.size()) - 1; i >= 0; --i) {
    const View& v = w.views[static_cast<size_t>(i)];
    ui::Kind k = v.state->design->kind;
    if (!Shown(w, i)) continue;
    if (k == ui::Kind::ImageButtonEx || k == ui::Kind::CheckBoxEx || k == ui::Kind::ComboBoxEx) {
      if (v.rect.Contains(d)) return i;
    } else if (k == ui::Kind::WebBrowserEx && LinkAt(w, i, p) != 0) {
      return i;
    }
  }
  return -1;
}

int Win32Backend::LinkAt(const Win& w, int index, POINT p) const {
  const View& v = w.views[static_cast<size_t>(index)];
  bool drawn = v.state->page == ui::PageState::Offline || !v.browser;
  if (!drawn) return 0;
  PointF d(static_cast<REAL>(p.x) / w.scale, static_cast<REAL>(p.y) / w.scale);
  if (v.linkRect.Width > 0 && v.linkRect.Contains(d)) return 1;
  if (v.state->page == ui::PageState::Offline && v.retryRect.Width > 0 && v.retryRect.Contains(d)) return 2;
  return 0;
}

// ---------------------------------------------------------------- painting

void Win32Backend::ReleaseBuffer(Win& w) {
  w.bufferSelected.reset();
  w.bufferDc.reset();
  w.buffer.reset();
  w.bufferW = w.bufferH = 0;
}

Bitmap* Win32Backend::Cached(Win& w, View& v) {
  if (v.cache && v.cacheScale == w.scale) return v.cache.get();
  RECT d = DeviceRect(w, v.rect);
  int dw = d.right - d.left, dh = d.bottom - d.top;
  if (dw <= 0 || dh <= 0) return nullptr;
  auto bmp = std::make_unique<Bitmap>(dw, dh, PixelFormat32bppPARGB);
  {
    Graphics g(bmp.get());
    SetupQuality(g);
    if (v.picture) {
      float pw = static_cast<float>(v.picture->GetWidth()), ph = static_cast<float>(v.picture->GetHeight());
      RectF dst(0, 0, static_cast<REAL>(dw), static_cast<REAL>(dh));
      if (v.art == Art::Background) {
        // Cover: fill the box, crop the overflow, keep the aspect.
        float s = std::max(dw / pw, dh / ph);
        dst = RectF((dw - pw * s) / 2, (dh - ph * s) / 2, pw * s, ph * s);
      } else if (v.art == Art::Logo) {
        float s = std::min(dw / pw, dh / ph);
        dst = RectF(0, (dh - ph * s) / 2, pw * s, ph * s);
      }
      ImageAttributes attr;
      attr.SetWrapMode(WrapModeTileFlipXY);  // no dark seams at the edges
      g.DrawImage(v.picture.get(), dst, 0, 0, pw, ph, UnitPixel, &attr);
    } else {
      g.ScaleTransform(w.scale, w.scale);
      g.TranslateTransform(-static_cast<REAL>(d.left) / w.scale, -static_cast<REAL>(d.top) / w.scale);
      PaintPictureArt(g, v.art, v.rect);
    }
  }
  v.cache = std::move(bmp);
  v.cacheScale = w.scale;
  return v.cache.get();
}

void Win32Backend::DrawView(Win& w, Graphics& g, View& v) {
  const ui::ControlState& s = *v.state;
  int index = static_cast<int>(&v - w.views.data());
  auto design = [&] {
    g.ResetTransform();
    g.ScaleTransform(w.scale, w.scale);
  };
  switch (s.design->kind) {
    case ui::Kind::PictureBoxEx: {
      if (v.picture || IsStaticArt(v.art)) {
        if (Bitmap* bmp = Cached(w, v)) {
          RECT d = DeviceRect(w, v.rect);
          g.ResetTransform();
          g.SetInterpolationMode(InterpolationModeNearestNeighbor);
          DrawOneToOne(g, bmp, d.left, d.top);
          g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
        }
      } else {
        design();
        PaintPictureArt(g, v.art, v.rect);
      }
      break;
    }
    case ui::Kind::LabelEx:
      design();
      PaintLabel(g, v.rect, Widen(s.text), Widen(s.design->font), LabelStyleFor(s.design->role));
      break;
    case ui::Kind::ImageButtonEx: {
      Look look = Look::Normal;
      if (s.disabled)
        look = Look::Disabled;
      else if (w.pressed == index && w.hot == index)
        look = Look::Pressed;
      else if (s.selectedLook)
        look = Look::Selected;
      else if (w.hot == index)
        look = Look::Hover;
      design();
      PaintButton(g, v.art, v.rect, look, Widen(s.text), v.index, w.showFocus && w.focus == index);
      break;
    }
    case ui::Kind::CheckBoxEx:
      design();
      PaintCheckBox(g, v.rect, s.checked, s.disabled ? Look::Disabled : (w.hot == index ? Look::Hover : Look::Normal),
                    w.showFocus && w.focus == index);
      break;
    case ui::Kind::ComboBoxEx:
      design();
      PaintComboBox(g, v.rect, Widen(s.text),
                    s.disabled ? Look::Disabled : (w.hot == index ? Look::Hover : Look::Normal),
                    w.dropFor == index, w.focus == index && (w.showFocus || w.dropFor == index));
      break;
    case ui::Kind::ProgressBarEx:
      design();
      PaintProgress(g, v.rect, s.maximum > 0 ? static_cast<double>(s.position) / static_cast<double>(s.maximum) : 0);
      break;
    case ui::Kind::WebBrowserEx:
      design();
      if (s.page == ui::PageState::Offline) {
        OfflineLinks links = PaintOfflinePanel(g, v.rect, Widen(s.address), w.hot == index ? w.hotLink : 0);
        v.linkRect = links.address;
        v.retryRect = links.retry;
      } else if (v.browser) {
        SolidBrush bg(Color(0xFF0A0E15));
        g.FillRectangle(&bg, v.rect);
      } else {
        v.linkRect = PaintBrowserPanel(g, v.rect, Widen(s.address), w.hot == index && w.hotLink == 1);
        v.retryRect = RectF();
      }
      break;
    default:
      break;
  }
}

void Win32Backend::Paint(Win& w) {
  PaintDc paint(w.hwnd.get());
  HDC hdc = paint.get();
  const RECT& dirty = paint.dirty();
  RECT client;
  ::GetClientRect(w.hwnd.get(), &client);
  int cw = client.right, ch = client.bottom;
  if (cw <= 0 || ch <= 0) return;
  if (!w.bufferDc || w.bufferW != cw || w.bufferH != ch) {
    ReleaseBuffer(w);
    w.bufferDc.reset(::CreateCompatibleDC(hdc));
    w.buffer.reset(::CreateCompatibleBitmap(hdc, cw, ch));
    w.bufferSelected = SelectedObject(w.bufferDc.get(), w.buffer.get());
    w.bufferW = cw;
    w.bufferH = ch;
  }
  {
    Graphics g(w.bufferDc.get());
    RECT c = dirty;
    g.SetClip(Gdiplus::Rect(c.left, c.top, c.right - c.left, c.bottom - c.top));
    SetupQuality(g);
    // The window skin, cached at device size.
    if (!w.frame || w.frameScale != w.scale) {
      w.frame = std::make_unique<Bitmap>(cw, ch, PixelFormat32bppPARGB);
      Graphics fg(w.frame.get());
      SetupQuality(fg);
      fg.ScaleTransform(w.scale, w.scale);
      PaintFrame(fg, w.id, static_cast<REAL>(w.designW), static_cast<REAL>(w.designH));
      w.frameScale = w.scale;
    }
    g.SetCompositingMode(CompositingModeSourceCopy);
    g.SetInterpolationMode(InterpolationModeNearestNeighbor);
    DrawOneToOne(g, w.frame.get(), 0, 0);
    g.SetCompositingMode(CompositingModeSourceOver);
    g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    // The background picture lies beneath every other control; the rest
    // stack in design order.
    for (int pass = 0; pass < 2; ++pass) {
      for (size_t i = 0; i < w.views.size(); ++i) {
        View& v = w.views[i];
        if ((v.art == Art::Background) != (pass == 0)) continue;
        if (!Shown(w, static_cast<int>(i)) || v.state->design->kind == ui::Kind::Timer) continue;
        RECT d = DeviceRect(w, v.rect), hit;
        ::InflateRect(&d, 2, 2);
        if (!::IntersectRect(&hit, &d, &c)) continue;
        DrawView(w, g, v);
      }
    }
    g.ResetTransform();
    g.ScaleTransform(w.scale, w.scale);
    PaintFrameBorder(g, w.id, static_cast<REAL>(w.designW), static_cast<REAL>(w.designH));
  }
  ::BitBlt(hdc, dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, w.bufferDc.get(),
           dirty.left, dirty.top, SRCCOPY);
}

// ---------------------------------------------------------------- input

void Win32Backend::SetHot(Win& w, int hot, int link) {
  if (hot == w.hot && link == w.hotLink) return;
  int old = w.hot;
  w.hot = hot;
  w.hotLink = link;
  InvalidateView(w, old);
  InvalidateView(w, hot);
}

void Win32Backend::Activate(Win& w, int index) {
  if (!Usable(w, index)) return;
  ui::WindowId id = w.id;
  const View& v = w.views[static_cast<size_t>(index)];
  std::string name(v.state->design->name);
  switch (v.state->design->kind) {
    case ui::Kind::ImageButtonEx:
      ui_->Raise(id, name, ui::Event::Clicked);
      break;
    case ui::Kind::CheckBoxEx: {
      bool now = !v.state->checked;
      ui_->SetChecked(id, name, now);
      ui_->Raise(id, name, ui::Event::TickChanged, now ? 1 : 0);
      break;
    }
    case ui::Kind::ComboBoxEx:
      if (w.dropFor == index)
        CloseDrop(w);
      else
        OpenDrop(w, index);
      break;
    case ui::Kind::WebBrowserEx:
      if (w.pressedLink == 2) {
        ui_->RetryPage(id, name);
        break;
      }
      // The same rule as the operator-page buttons: only web and mail
      // addresses reach the shell.
      (void)platform::OpenInBrowser(v.state->address);
      break;
    default:
      break;
  }
}

void Win32Backend::MoveFocus(Win& w, int step) {
  int n = static_cast<int>(w.views.size());
  if (n == 0) return;
  int start = w.focus < 0 ? (step > 0 ? -1 : n) : w.focus;
  for (int k = 1; k <= n; ++k) {
    int i = ((start + step * k) % n + n) % n;
    if (Focusable(w, i)) {
      int old = w.focus;
      w.focus = i;
      InvalidateView(w, old);
      InvalidateView(w, i);
      return;
    }
  }
}

void Win32Backend::OnKey(Win& w, UINT key, bool alt) {
  if (w.dropFor >= 0) {
    int count = static_cast<int>(w.views[static_cast<size_t>(w.dropFor)].state->items.size());
    switch (key) {
      case VK_UP:
      case VK_DOWN: {
        int hot = w.dropHot < 0 ? w.views[static_cast<size_t>(w.dropFor)].state->selectedItem : w.dropHot;
        hot = std::max(0, std::min(count - 1, hot + (key == VK_DOWN ? 1 : -1)));
        if (alt && key == VK_UP) {
          CloseDrop(w);
          return;
        }
        w.dropHot = hot;
        ::InvalidateRect(w.drop.get(), nullptr, FALSE);
        return;
      }
      case VK_RETURN:
      case VK_SPACE:
        if (w.dropHot >= 0) {
          ChooseItem(w, w.dropFor, w.dropHot);
        } else {
          CloseDrop(w);
        }
        return;
      case VK_ESCAPE:
      case VK_F4:
      case VK_TAB:
        CloseDrop(w);
        if (key != VK_TAB) return;
        break;
      default:
        return;
    }
  }
  if (key == VK_TAB) {
    w.showFocus = true;
    MoveFocus(w, ::GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
    return;
  }
  if (w.focus < 0 || !Usable(w, w.focus)) {
    if (key == VK_DOWN || key == VK_UP || key == VK_RIGHT || key == VK_LEFT) {
      w.showFocus = true;
      MoveFocus(w, 1);
    }
    return;
  }
  int f = w.focus;
  ui::Kind kind = w.views[static_cast<size_t>(f)].state->design->kind;
  if (kind == ui::Kind::ComboBoxEx) {
    const ui::ControlState& s = *w.views[static_cast<size_t>(f)].state;
    int count = static_cast<int>(s.items.size());
    if ((alt && key == VK_DOWN) || key == VK_F4 || key == VK_SPACE || key == VK_RETURN) {
      OpenDrop(w, f);
    } else if (key == VK_DOWN || key == VK_UP) {
      int next = std::max(0, std::min(count - 1, s.selectedItem + (key == VK_DOWN ? 1 : -1)));
      if (next != s.selectedItem) ChooseItem(w, f, next);
    }
    return;
  }
  if (key == VK_SPACE || key == VK_RETURN) {
    w.showFocus = true;
    Activate(w, f);
    return;
  }
  if (key == VK_DOWN || key == VK_RIGHT || key == VK_UP || key == VK_LEFT) {
    w.showFocus = true;
    MoveFocus(w, key == VK_DOWN || key == VK_RIGHT ? 1 : -1);
  }
}

// ---------------------------------------------------------------- combo list

void Win32Backend::OpenDrop(Win& w, int index) {
  CloseDrop(w);
  const View& v = w.views[static_cast<size_t>(index)];
  int count = static_cast<int>(v.state->items.size());
  if (count == 0) return;
  RECT d = DeviceRect(w, v.rect);
  POINT tl{d.left, d.bottom + static_cast<LONG>(std::lround(2 * w.scale))};
  ::ClientToScreen(w.hwnd.get(), &tl);
  int width = d.right - d.left;
  int height = static_cast<int>(std::ceil((count * kDropItemHeight + 6) * w.scale));
  RECT work = WorkArea(::MonitorFromWindow(w.hwnd.get(), MONITOR_DEFAULTTONEAREST));
  if (tl.y + height > work.bottom) {
    // Open upwards when there is no room below.
    POINT top{d.left, d.top};
    ::ClientToScreen(w.hwnd.get(), &top);
    tl.y = std::max(static_cast<LONG>(work.top), top.y - height - static_cast<LONG>(std::lround(2 * w.scale)));
  }
  w.dropFor = index;
  w.dropHot = v.state->selectedItem;
  w.focus = index;
  w.drop.reset(::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kDropClass, L"", WS_POPUP, tl.x, tl.y, width,
                                 height, w.hwnd.get(), nullptr, ::GetModuleHandleW(nullptr), &w));
  if (!w.drop) {
    w.dropFor = -1;
    return;
  }
  ::ShowWindow(w.drop.get(), SW_SHOWNOACTIVATE);
  ::SetCapture(w.drop.get());
  InvalidateView(w, index);
}

void Win32Backend::CloseDrop(Win& w) {
  if (!w.drop) return;
  // Off the window first: messages sent while it goes find no list.
  UniqueWindow drop = std::move(w.drop);
  int was = w.dropFor;
  w.dropFor = -1;
  w.dropHot = -1;
  if (::GetCapture() == drop.get()) ::ReleaseCapture();
  drop.reset();
  InvalidateView(w, was);
}

void Win32Backend::ChooseItem(Win& w, int index, int item) {
  CloseDrop(w);
  if (!Usable(w, index)) return;
  ui::WindowId id = w.id;
  std::string name(w.views[static_cast<size_t>(index)].state->design->name);
  ui_->SetSelectedItem(id, name, item);
  ui_->Raise(id, name, ui::Event::ItemSelected, item);
}

LRESULT CALLBACK Win32Backend::DropProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE)
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  auto* w = reinterpret_cast<Win*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!w || w->drop.get() != hwnd || w->dropFor < 0) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return w->owner->HandleDrop(*w, hwnd, msg, wp, lp);
}

LRESULT Win32Backend::HandleDrop(Win& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const ui::ControlState& s = *w.views[static_cast<size_t>(w.dropFor)].state;
  auto rowAt = [&](LPARAM pos) {
    POINT p{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
    RECT rc;
    ::GetClientRect(hwnd, &rc);
    if (!::PtInRect(&rc, p)) return -2;  // outside the list
    int row = static_cast<int>(std::floor((p.y / w.scale - 3) / kDropItemHeight));
    return row >= 0 && row < static_cast<int>(s.items.size()) ? row : -1;
  };
  switch (msg) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_MOUSEMOVE: {
      int row = rowAt(lp);
      if (row >= 0 && row != w.dropHot) {
        w.dropHot = row;
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      // A press outside the list closes it; on the combo itself that is the
      // toggle the player expects.
      if (rowAt(lp) == -2) {
        HWND owner = w.hwnd.get();
        POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        ::ClientToScreen(hwnd, &p);
        ::ScreenToClient(owner, &p);
        int index = w.dropFor;
        CloseDrop(w);
        if (HitTest(w, p) == index) w.pressed = -2;  // swallow the matching button-up
      }
      return 0;
    case WM_LBUTTONUP: {
      int row = rowAt(lp);
      if (row >= 0) ChooseItem(w, w.dropFor, row);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lp) != hwnd) {
        CloseDrop(w);
      }
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      OnKey(w, static_cast<UINT>(wp), msg == WM_SYSKEYDOWN);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      // Released in reverse: selection, bitmap, DC, then the paint.
      PaintDc paint(hwnd);
      HDC hdc = paint.get();
      RECT rc;
      ::GetClientRect(hwnd, &rc);
      UniqueMemoryDc mem(::CreateCompatibleDC(hdc));
      UniqueGdiObject bmp(::CreateCompatibleBitmap(hdc, rc.right, rc.bottom));
      SelectedObject selected(mem.get(), bmp.get());
      {
        Graphics g(mem.get());
        SetupQuality(g);
        g.ScaleTransform(w.scale, w.scale);
        std::vector<std::wstring> items;
        for (const std::string& item : s.items) items.push_back(Widen(item));
        PaintDropList(g, RectF(0, 0, rc.right / w.scale, rc.bottom / w.scale), items, s.selectedItem, w.dropHot);
      }
      ::BitBlt(hdc, 0, 0, rc.right, rc.bottom, mem.get(), 0, 0, SRCCOPY);
      return 0;
    }
    default:
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
}

// ---------------------------------------------------------------- messages

LRESULT CALLBACK Win32Backend::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* w = reinterpret_cast<Win*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    w->hwnd.reset(hwnd);
  }
  auto* w = reinterpret_cast<Win*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!w || w->hwnd.get() != hwnd) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return w->owner->Handle(*w, msg, wp, lp);
}

LRESULT Win32Backend::Handle(Win& w, UINT msg, WPARAM wp, LPARAM lp) {
  HWND hwnd = w.hwnd.get();
  switch (msg) {
    case WM_NCHITTEST: {
      LRESULT hit = ::DefWindowProcW(hwnd, msg, wp, lp);
      if (hit != HTCLIENT) return hit;
      if (w.pressed != -1 || ::GetCapture() == hwnd) return HTCLIENT;
      POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      ::ScreenToClient(hwnd, &p);
      // The background drags the window; controls take the mouse.
      return HitTest(w, p) >= 0 ? HTCLIENT : HTCAPTION;
    }
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      CloseDrop(w);
      break;
    case WM_NCLBUTTONDBLCLK:
      return 0;  // no maximise from the caption
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT && Usable(w, w.hot)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE: {
      POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      int hit = HitTest(w, p);
      int link = hit >= 0 && w.views[static_cast<size_t>(hit)].state->design->kind == ui::Kind::WebBrowserEx
                     ? LinkAt(w, hit, p)
                     : 0;
      if (w.pressed >= 0 && (hit != w.pressed || link != w.pressedLink)) {
        hit = -1;
        link = 0;
      }
      SetHot(w, hit, link);
      TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
      ::TrackMouseEvent(&t);
      return 0;
    }
    case WM_MOUSELEAVE:
    case WM_NCMOUSEMOVE:
      if (w.pressed < 0) SetHot(w, -1, 0);
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      int hit = HitTest(w, p);
      if (!Usable(w, hit)) return 0;
      if (Focusable(w, hit) && w.focus != hit) {
        int old = w.focus;
        w.focus = hit;
        InvalidateView(w, old);
      }
      if (w.views[static_cast<size_t>(hit)].state->design->kind == ui::Kind::ComboBoxEx) {
        // The list opens on the press, like the system's combo box.
        Activate(w, hit);
        return 0;
      }
      w.pressed = hit;
      w.hot = hit;
      w.pressedLink = LinkAt(w, hit, p);
      ::SetCapture(hwnd);
      InvalidateView(w, hit);
      return 0;
    }
    case WM_LBUTTONUP: {
      int pressed = w.pressed;
      if (pressed == -2) {
        w.pressed = -1;
        return 0;
      }
      if (pressed < 0) return 0;
      POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      int hit = HitTest(w, p);
      w.pressed = -1;
      if (::GetCapture() == hwnd) ::ReleaseCapture();
      InvalidateView(w, pressed);
      // The handler may open a modal window or close this one: nothing of
      // this window is touched after it.
      bool sameLink = w.views[static_cast<size_t>(pressed)].state->design->kind != ui::Kind::WebBrowserEx ||
                      LinkAt(w, pressed, p) == w.pressedLink;
      if (hit == pressed && sameLink) Activate(w, pressed);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (w.pressed >= 0) {
        int was = w.pressed;
        w.pressed = -1;
        InvalidateView(w, was);
      }
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (wp == VK_F4 && msg == WM_SYSKEYDOWN) break;  // Alt+F4 closes as usual
      if (msg == WM_SYSKEYDOWN && wp != VK_DOWN && wp != VK_UP) break;
      OnKey(w, static_cast<UINT>(wp), msg == WM_SYSKEYDOWN);
      return 0;
    case WM_TIMER: {
      if (wp == kRetryTimer) {
        OnRetryTimer(w);
        return 0;
      }
      if (wp < kTimerBase || wp >= kTimerBase + w.views.size()) break;
      size_t i = wp - kTimerBase;
      ui_->Raise(w.id, std::string(w.views[i].state->design->name), ui::Event::TimerTick);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) CloseDrop(w);
      break;
    case WM_MOVE:
      CloseDrop(w);
      break;
    case WM_SIZE:
      if (wp == SIZE_RESTORED && ui_->WindowState(w.id) == ui::kWindowMinimised) {
        // Restored from the taskbar: the model follows.
        w.settingState = true;
        ui_->SetWindowState(w.id, ui::kWindowNormal);
        w.settingState = false;
      } else if (wp == SIZE_MINIMIZED && ui_->WindowState(w.id) != ui::kWindowMinimised) {
        w.settingState = true;
        ui_->SetWindowState(w.id, ui::kWindowMinimised);
        w.settingState = false;
      }
      break;
    case WM_DPICHANGED:
      CloseDrop(w);
      ApplyScale(w, LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_DISPLAYCHANGE: {
      // The work area may have shrunk: fit again where the window is.
      RECT now;
      ::GetWindowRect(hwnd, &now);
      ApplyScale(w, w.dpi, &now);
      break;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(w);
      return 0;
    case WM_CLOSE:
      // Alt+F4 or the taskbar: the same road as the close buttons.
      ui_->CloseWindow(w.id);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace ui::win32
