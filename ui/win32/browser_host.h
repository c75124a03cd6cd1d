// The system's web-browser control hosted in a child window for the
// announcement panel: the newest document mode, no context menu, no dialogs,
// every navigation through the panel's policy (ui/navigation.h), and no
// engine error page. Create returns null where no browser engine exists.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <ole2.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/win32/com_ptr.h"

namespace ui::win32 {

// Window thread, never inside one of the engine's events.
struct BrowserCallbacks {
  std::function<void()> loaded;  // the panel's page arrived
  std::function<void()> failed;  // it did not (the engine's error page was cancelled)
  std::function<void(const std::string& url)> openInBrowser;  // the policy said Shell
};

class BrowserHost {
 public:
  virtual ~BrowserHost() = default;
  virtual HWND hwnd() const = 0;
  // Physical pixels, relative to the parent.
  virtual void SetBounds(const RECT& r) = 0;
  virtual void Show(bool visible) = 0;
  // The announcement: its host is the one that stays in the panel. Anything
  // but a web address shows a blank page.
  virtual void Navigate(const std::string& address) = 0;
};

// OLE must be initialised on the calling (window) thread.
std::unique_ptr<BrowserHost> CreateBrowserHost(HWND parent, BrowserCallbacks callbacks);

// The per-user value that selects the engine's newest document mode for this
// exe (FEATURE_BROWSER_EMULATION = 11001 under HKCU, named after the exe's
// file name). It must exist before the engine loads in the process. Returns
// the Win32 error; a failure only leaves the older mode.
[[nodiscard]] LONG WriteBrowserEmulation();

// The engine's per-process safety switches (no registry): downloads, ActiveX
// installs and zone elevation restricted, popups managed. Set before the
// first control is created; true when every one was taken.
[[nodiscard]] bool SetEngineFeatureControls();

// The parts of the host, exposed so tests can call them without an engine.
// The client site (with the document host interfaces) over hwnd:
platform::win32::ComPtr<IOleClientSite> CreateBrowserSite(HWND hwnd);
// The sink of the control's events. topFrame identifies the panel's own
// browser object (compared, not held); the actions run inside the event, so
// a host defers them.
struct BrowserSinkActions {
  std::function<std::string()> panelAddress;
  std::function<void()> loaded, failed;
  std::function<void(const std::string& url)> openInBrowser;
  std::function<void(const std::string& url)> loadInPanel;  // a new window on the panel's host
  // Whether the player has just clicked or pressed a key in the panel.
  std::function<bool()> clicked;
  platform::Clock* clock = nullptr;  // paces the shell opens; null: the system's
};
platform::win32::ComPtr<IDispatch> CreateBrowserSink(IUnknown* topFrame, BrowserSinkActions actions);

}  // namespace ui::win32
