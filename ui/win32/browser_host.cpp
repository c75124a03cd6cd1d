#include "ui/win32/browser_host.h"

#include <exdisp.h>
#include <ole2.h>

#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handle.h"

namespace ui::win32 {
namespace {

using platform::win32::ComPtr;
using platform::win32::UniqueBstr;
using platform::win32::UniqueWindow;

constexpr wchar_t kHostClass[] = L"TarnwickBrowserHost";

// The smallest in-place container the browser control accepts: a client
// site, an in-place site and a frame, all answered by one object.
class Site final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  explicit Site(HWND hwnd) : hwnd_(hwnd) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* h) override {
    *h = hwnd_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    ::GetClientRect(hwnd_, pos);
    ::GetClientRect(hwnd_, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = ::GetAncestor(hwnd_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow / IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  HWND hwnd_;
  ULONG refs_ = 1;
};

// Detaches the object from its site; the owners then release the browser,
// the object, the site and last the window.
void CloseObject(IOleObject* object) {
  object->Close(OLECLOSE_NOSAVE);
  object->SetClientSite(nullptr);
}

class Host final : public BrowserHost {
 public:
  Host(UniqueWindow hwnd, ComPtr<Site> site, ComPtr<IOleObject> object, ComPtr<IWebBrowser2> browser)
      : hwnd_(std::move(hwnd)), site_(std::move(site)), object_(std::move(object)), browser_(std::move(browser)) {}
  ~Host() override {
    browser_->Stop();
    CloseObject(object_.get());
  }
  HWND hwnd() const override { return hwnd_.get(); }
  void SetBounds(const RECT& r) override {
    ::MoveWindow(hwnd_.get(), r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    ComPtr<IOleInPlaceObject> inplace;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, inplace.out_void())) && inplace) {
      RECT client{0, 0, r.right - r.left, r.bottom - r.top};
      inplace->SetObjectRects(&client, &client);
    }
  }
  void Show(bool visible) override { ::ShowWindow(hwnd_.get(), visible ? SW_SHOWNA : SW_HIDE); }
  void Navigate(const std::wstring& address) override {
    UniqueBstr url(::SysAllocString(address.empty() ? L"about:blank" : address.c_str()));
    VARIANT empty;
    ::VariantInit(&empty);
    browser_->Navigate(url.get(), &empty, &empty, &empty, &empty);
  }

 private:
  // Released in reverse: browser, object, site, window.
  UniqueWindow hwnd_;
  ComPtr<Site> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
};

// The HTML engine itself: with it missing the browser object may still be
// created but shows nothing, so probe it first.
bool HtmlEngineAvailable() {
  static const CLSID kHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
  ComPtr<IUnknown> doc;
  HRESULT hr = ::CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, doc.out_void());
  return SUCCEEDED(hr) && doc;
}

}  // namespace

std::unique_ptr<BrowserHost> CreateBrowserHost(HWND parent) {
  static bool probed = false, available = false;
  if (!probed) {
    probed = true;
    available = HtmlEngineAvailable();
  }
  if (!available) return nullptr;

  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kHostClass;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    registered = ::RegisterClassW(&wc) != 0;
  }
  UniqueWindow hwnd(::CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 16,
                                      16, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr));
  if (!hwnd) return nullptr;
  // Declared in the order the failure path must release them in reverse.
  ComPtr<Site> site(new Site(hwnd.get()));
  ComPtr<IOleObject> object;
  ComPtr<IWebBrowser2> browser;
  RECT rc{0, 0, 16, 16};
  bool ok = SUCCEEDED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                         object.out_void())) &&
            SUCCEEDED(object->SetClientSite(site.get())) &&
            SUCCEEDED(::OleSetContainedObject(object.get(), TRUE)) &&
            SUCCEEDED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.get(), 0, hwnd.get(), &rc)) &&
            SUCCEEDED(object->QueryInterface(IID_IWebBrowser2, browser.out_void())) && browser;
  if (!ok) {
    if (object) CloseObject(object.get());
    return nullptr;
  }
  // No script-error or other dialogs from pages.
  browser->put_Silent(VARIANT_TRUE);
  browser->put_RegisterAsDropTarget(VARIANT_FALSE);
  return std::make_unique<Host>(std::move(hwnd), std::move(site), std::move(object), std::move(browser));
}

}  // namespace ui::win32
