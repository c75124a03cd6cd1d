// The Win32 backend: borderless skinned windows whose controls are drawn with
// GDI+ into one back buffer per window (windowless controls: flicker-free and
// transparent over pictures). The announcement control hosts a child window.
#pragma once
#include <windows.h>
#include <netlistmgr.h>
#include <shobjidl.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handle.h"
#include "ui/win32/artwork.h"
#include "ui/win32/browser_host.h"
#include "ui/win32/gdip.h"
#include "ui/backend.h"
#include "ui/ui.h"

namespace ui::win32 {

class Win32Backend final : public ui::Backend {
 public:
  Win32Backend();
  ~Win32Backend() override;

  void Attach(ui::Ui& ui) override { ui_ = &ui; }
  bool CreateWindowFor(ui::WindowId id, bool modal) override;
  void ShowWindowFor(ui::WindowId id) override;
  void RunModal(ui::WindowId id) override;
  void DestroyWindowFor(ui::WindowId id) override;
  void BringToFront(ui::WindowId id) override;
  void PropertyChanged(ui::WindowId id, const ui::ControlState& control, ui::Prop prop) override;
  void WindowStateChanged(ui::WindowId id, int state) override;
  void TaskbarProgressChanged(ui::WindowId id, const ui::TaskbarProgress& progress) override;
  void Wake() override;
  void Pump(bool wait) override;

 private:
  struct View {
    const ui::ControlState* state = nullptr;
    Art art = Art::None;
    int index = 0;       // version number for version buttons
    int container = -1;  // index of the containing control
    Gdiplus::RectF rect;  // design units, window-relative
    std::unique_ptr<Gdiplus::Bitmap> picture;
    std::size_t pictureHash = 0;
    std::unique_ptr<Gdiplus::Bitmap> cache;  // device-size rendering
    float cacheScale = 0;
    std::unique_ptr<BrowserHost> browser;
    Gdiplus::RectF linkRect;   // the address in the link panel or the offline view
    Gdiplus::RectF retryRect;  // the offline view's retry link
    bool timerOn = false;
  };
  struct Win {
    Win32Backend* owner = nullptr;
    ui::WindowId id{};
    platform::win32::UniqueWindow hwnd;
    bool modal = false;
    int dpi = 96;
    float scale = 1;
    int designW = 0, designH = 0;
    std::vector<View> views;
    int hot = -1, pressed = -1, focus = -1;
    int hotLink = 0;      // of the hot announcement panel: 1 the address, 2 retry
    int pressedLink = 0;  // the same, where the button went down
    bool showFocus = false, settingState = false, retryTimer = false;
    std::vector<HWND> disabledByModal;
    platform::win32::UniqueWindow drop;  // open combo list
    int dropFor = -1, dropHot = -1;
    // Released in reverse: the bitmap leaves the DC before either is deleted.
    platform::win32::UniqueGdiObject buffer;
    platform::win32::UniqueMemoryDc bufferDc;
    platform::win32::SelectedObject bufferSelected;
    int bufferW = 0, bufferH = 0;
    std::unique_ptr<Gdiplus::Bitmap> frame;
    float frameScale = 0;
  };

  // The taskbar's progress interface, made on first use; none where the
  // system has no taskbar list (then the progress shows in the window only).
  platform::win32::ComPtr<ITaskbarList3> taskbar_;
  bool taskbarTried_ = false;
  // The network list for the offline view's "network is back", made on first use.
  platform::win32::ComPtr<INetworkListManager> networkList_;
  bool networkListTried_ = false;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK DropProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(Win& w, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT HandleDrop(Win& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  Win& W(ui::WindowId id) { return windows_[static_cast<int>(id)]; }
  void ApplyScale(Win& w, int dpi, const RECT* suggested);
  void Paint(Win& w);
  void DrawView(Win& w, Gdiplus::Graphics& g, View& v);
  Gdiplus::Bitmap* Cached(Win& w, View& v);
  RECT DeviceRect(const Win& w, const Gdiplus::RectF& r) const;
  void InvalidateView(Win& w, int index);
  bool Shown(const Win& w, int index) const;
  bool Usable(const Win& w, int index) const;
  bool Focusable(const Win& w, int index) const;
  int HitTest(Win& w, POINT client);
  void SetHot(Win& w, int hot, int link);
  int LinkAt(const Win& w, int index, POINT client) const;
  void ShowBrowser(Win& w, View& v);
  void OnRetryTimer(Win& w);
  void Activate(Win& w, int index);
  void OnKey(Win& w, UINT key, bool alt);
  void MoveFocus(Win& w, int step);
  void PlaceBrowser(Win& w, View& v);
  void UpdateTimer(Win& w, int index);
  void OpenDrop(Win& w, int index);
  void CloseDrop(Win& w);
  void ChooseItem(Win& w, int index, int item);
  void ReleaseBuffer(Win& w);

  ui::Ui* ui_ = nullptr;
  Win windows_[ui::kWindowCount];
  platform::win32::UniqueWindow wakeWindow_;
  std::atomic<bool> wakePending_{false};
  bool oleReady_ = false;
};

}  // namespace ui::win32
