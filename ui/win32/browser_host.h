// The system's web-browser control hosted in a child window, silent (no
// script-error dialogs). Create returns null where no browser engine exists.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace ui::win32 {

class BrowserHost {
 public:
  virtual ~BrowserHost() = default;
  virtual HWND hwnd() const = 0;
  // Physical pixels, relative to the parent.
  virtual void SetBounds(const RECT& r) = 0;
  virtual void Show(bool visible) = 0;
  virtual void Navigate(const std::wstring& address) = 0;
};

// OLE must be initialised on the calling (window) thread.
std::unique_ptr<BrowserHost> CreateBrowserHost(HWND parent);

}  // namespace ui::win32
