#include "ui/win32/browser_host.h"

#include <exdisp.h>
#include <ole2.h>

namespace ui::win32 {
namespace {

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

class Host final : public BrowserHost {
 public:
  Host(HWND hwnd, Site* site, IOleObject* object, IWebBrowser2* browser)
      : hwnd_(hwnd), site_(site), object_(object), browser_(browser) {}
  ~Host() override {
    browser_->Stop();
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    browser_->Release();
    object_->Release();
    site_->Release();
    ::DestroyWindow(hwnd_);
  }
  HWND hwnd() const override { return hwnd_; }
  void SetBounds(const RECT& r) override {
    ::MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    IOleInPlaceObject* inplace = nullptr;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inplace)))) {
      RECT client{0, 0, r.right - r.left, r.bottom - r.top};
      inplace->SetObjectRects(&client, &client);
      inplace->Release();
    }
  }
  void Show(bool visible) override { ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE); }
  void Navigate(const std::wstring& address) override {
    BSTR url = ::SysAllocString(address.empty() ? L"about:blank" : address.c_str());
    VARIANT empty;
    ::VariantInit(&empty);
    browser_->Navigate(url, &empty, &empty, &empty, &empty);
    ::SysFreeString(url);
  }

 private:
  HWND hwnd_;
  Site* site_;
  IOleObject* object_;
  IWebBrowser2* browser_;
};

// The HTML engine itself: with it missing the browser object may still be
// created but shows nothing, so probe it first.
bool HtmlEngineAvailable() {
  static const CLSID kHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
  IUnknown* doc = nullptr;
  HRESULT hr = ::CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&doc));
  if (FAILED(hr) || !doc) return false;
  doc->Release();
  return true;
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
  HWND hwnd = ::CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 16, 16,
                                parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return nullptr;
  Site* site = new Site(hwnd);
  IOleObject* object = nullptr;
  IWebBrowser2* browser = nullptr;
  RECT rc{0, 0, 16, 16};
  bool ok = SUCCEEDED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                         reinterpret_cast<void**>(&object))) &&
            SUCCEEDED(object->SetClientSite(site)) &&
            SUCCEEDED(::OleSetContainedObject(object, TRUE)) &&
            SUCCEEDED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, hwnd, &rc)) &&
            SUCCEEDED(object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser)));
  if (!ok) {
    if (object) {
      object->Close(OLECLOSE_NOSAVE);
      object->SetClientSite(nullptr);
      object->Release();
    }
    site->Release();
    ::DestroyWindow(hwnd);
    return nullptr;
  }
  // No script-error or other dialogs from pages.
  browser->put_Silent(VARIANT_TRUE);
  browser->put_RegisterAsDropTarget(VARIANT_FALSE);
  return std::make_unique<Host>(hwnd, site, object, browser);
}

}  // namespace ui::win32
