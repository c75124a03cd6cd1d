#include "ui/win32/browser_host.h"

#include <docobj.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <deque>
#include <optional>
#include <string_view>

#include "platform/log.h"
#include "platform/names.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "ui/navigation.h"

namespace ui::win32 {
namespace {

using platform::win32::ComPtr;
using platform::win32::Narrow;
using platform::win32::UniqueBstr;
using platform::win32::UniqueRegKey;
using platform::win32::UniqueWindow;
using platform::win32::Widen;

constexpr wchar_t kHostClass[] = L"TarnwickBrowserHost";
constexpr UINT kRunDeferred = WM_APP + 7;
// CGID_DocHostCommandHandler; the import library lacks it.
constexpr GUID kDocHostCommands = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// The client site, in-place site, frame and document host of the control,
// all answered by one object.
class Site final : public IOleClientSite,
                   public IOleInPlaceSite,
                   public IOleInPlaceFrame,
                   public IDocHostUIHandler,
                   public IOleCommandTarget {
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
    else if (riid == IID_IDocHostUIHandler)
      *out = static_cast<IDocHostUIHandler*>(this);
    else if (riid == IID_IOleCommandTarget)
      *out = static_cast<IOleCommandTarget*>(this);
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
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }  // also IDocHostUIHandler's
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
    return S_OK;  // shown by us: that is, none
  }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    if (!info || info->cbSize < sizeof(DOCHOSTUIINFO)) return E_INVALIDARG;
    // Sharp at any scale, flat into the panel's frame, no help menu, and no
    // protocols the system does not trust.
    info->dwFlags = DOCHOSTUIFLAG_DPI_AWARE | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER |
                    DOCHOSTUIFLAG_FLAT_SCROLLBAR | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_DISABLE_HELP_MENU |
                    DOCHOSTUIFLAG_DISABLE_UNTRUSTEDPROTOCOL | DOCHOSTUIFLAG_LOCAL_MACHINE_ACCESS_CHECK;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
  }
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;  // no menus or toolbars to show
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key) *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** out) override {
    // Pages get no window.external to call into the launcher.
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }

  // IOleCommandTarget: the engine asks before its script-error dialog.
  STDMETHODIMP QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override { return OLECMDERR_E_UNKNOWNGROUP; }
  STDMETHODIMP Exec(const GUID* group, DWORD id, DWORD, VARIANT*, VARIANT* out) override {
    if (!group || !::IsEqualGUID(*group, kDocHostCommands)) return OLECMDERR_E_UNKNOWNGROUP;
    if (id != OLECMDID_SHOWSCRIPTERROR) return OLECMDERR_E_NOTSUPPORTED;
    // Handled (no dialog), and the page's scripts keep running.
    if (out) {
      ::VariantClear(out);
      out->vt = VT_BOOL;
      out->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

 private:
  HWND hwnd_;
  ULONG refs_ = 1;
};

// The whole of a BSTR, embedded NULs included: cut at the first one, an
// address would be judged by less than the engine goes to.
std::string BstrText(BSTR b) { return b ? Narrow(std::wstring_view(b, ::SysStringLen(b))) : std::string(); }

// The string an event argument holds, by value or by reference.
std::string StringArg(const VARIANT& v) {
  if (v.vt == VT_BSTR) return BstrText(v.bstrVal);
  if (v.vt == (VT_BYREF | VT_BSTR)) return v.pbstrVal ? BstrText(*v.pbstrVal) : std::string();
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return StringArg(*v.pvarVal);
  return {};
}

VARIANT_BOOL* CancelArg(const VARIANT& v) { return v.vt == (VT_BYREF | VT_BOOL) ? v.pboolVal : nullptr; }

std::optional<long> LongArg(const VARIANT& v) {
  if (v.vt == VT_I4 || v.vt == VT_UI4 || v.vt == VT_INT || v.vt == VT_UINT) return v.lVal;
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return LongArg(*v.pvarVal);
  return std::nullopt;
}

std::optional<bool> BoolArg(const VARIANT& v) {
  if (v.vt == VT_BOOL) return v.boolVal != VARIANT_FALSE;
  if (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal) return *v.pboolVal != VARIANT_FALSE;
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return BoolArg(*v.pvarVal);
  return std::nullopt;
}

IDispatch* FrameArg(const VARIANT& v) {
  if (v.vt == VT_DISPATCH) return v.pdispVal;
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return FrameArg(*v.pvarVal);
  return nullptr;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return false;
  ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.out_void())) || FAILED(b->QueryInterface(IID_IUnknown, ub.out_void())))
    return false;
  return ua.get() == ub.get();
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// DWebBrowserEvents2, the part the panel needs. DISPPARAMS hold the
// arguments last first.
class Sink final : public IDispatch {
 public:
  Sink(IUnknown* top, BrowserSinkActions actions)
      : top_(top),
        actions_(std::move(actions)),
        throttle_(actions_.clock ? *actions_.clock : platform::SystemClock()) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    if (!p || !p->rgvarg) return S_OK;
    const VARIANT* a = p->rgvarg;
    UINT n = p->cArgs;
    switch (id) {
      case DISPID_BEFORENAVIGATE2:  // frame, url, flags, target, post data, headers, cancel
        if (n >= 7) BeforeNavigate(FrameArg(a[6]), StringArg(a[5]), StringArg(a[3]), CancelArg(a[0]));
        break;
      case DISPID_NEWWINDOW3:  // &frame, cancel, flags, url context, url
        if (n >= 5) NewWindow(StringArg(a[0]), LongArg(a[2]).value_or(0), CancelArg(a[3]));
        break;
      case DISPID_FILEDOWNLOAD:  // active document, cancel
        // Fires for every page too (as an active document); anything else is
        // a file a frame asked for, and no download prompt ever shows.
        if (n >= 1 && !(n >= 2 && BoolArg(a[1]).value_or(false)))
          if (VARIANT_BOOL* cancel = CancelArg(a[0])) *cancel = VARIANT_TRUE;
        break;
      case DISPID_NEWWINDOW2:  // &frame, cancel: no address here; NewWindow3 follows it
        break;
      case DISPID_NAVIGATEERROR:  // frame, url, target, status, cancel
        if (n >= 5) NavigateError(FrameArg(a[4]), CancelArg(a[0]));
        break;
      case DISPID_DOCUMENTCOMPLETE:  // frame, url
        if (n >= 2) DocumentComplete(FrameArg(a[1]), StringArg(a[0]));
        break;
      default:
        break;
    }
    return S_OK;
  }

 private:
  std::string Panel() const { return actions_.panelAddress ? actions_.panelAddress() : std::string(); }

  bool Clicked() const { return actions_.clicked && actions_.clicked(); }

  void OpenInBrowser(const std::string& url, bool clicked) {
    if (!throttle_.Allow(clicked)) return;
    if (actions_.openInBrowser) actions_.openInBrowser(url);
  }

  void BeforeNavigate(IDispatch* frame, const std::string& url, const std::string& target, VARIANT_BOOL* cancel) {
    bool top = SameObject(frame, top_);
    bool otherFrame = !target.empty() && !EqualsNoCase(target, "_self");
    if (top && !otherFrame && EqualsNoCase(url, Panel())) loading_ = true;
    // Once a frame of the page loads, its script could be the one sending
    // the panel elsewhere: from then on only the panel's own host stays.
    if (!top) loading_ = false;
    switch (DecideNavigation(url, Panel(), otherFrame)) {
      case Navigation::Stay:
        if (top && !otherFrame && platform::WebHost(url)) throttle_.NewPage();
        return;
      case Navigation::Shell:
        // A frame of the page may show another site (an embedded player);
        // only the panel itself leaving for it opens the browser.
        if (!top && !otherFrame) return;
        // The announcement sending itself elsewhere before it has shown
        // (a refresh to its www host) is its own load, not a player's
        // click: it would open the browser on every start.
        if (top && !otherFrame && loading_) return;
        if (cancel) *cancel = VARIANT_TRUE;
        OpenInBrowser(url, Clicked());
        return;
      case Navigation::Refuse:
        if (cancel) *cancel = VARIANT_TRUE;
        return;
    }
  }

  void NewWindow(const std::string& url, long flags, VARIANT_BOOL* cancel) {
    // No window of the engine ever opens.
    if (cancel) *cancel = VARIANT_TRUE;
    // Only a click of the player's opens anything; not script on its own,
    // nor a page that is being left.
    if (!(flags & NWMF_USERINITED) || (flags & NWMF_UNLOADING)) return;
    switch (DecideNavigation(url, Panel(), true)) {
      case Navigation::Stay:
        if (actions_.loadInPanel) actions_.loadInPanel(url);
        break;
      case Navigation::Shell:
        OpenInBrowser(url, true);
        break;
      case Navigation::Refuse:
        break;
    }
  }

  void NavigateError(IDispatch* frame, VARIANT_BOOL* cancel) {
    // The engine's own error page never shows, in the panel or a frame.
    if (cancel) *cancel = VARIANT_TRUE;
    if (!SameObject(frame, top_)) return;
    loading_ = false;
    if (actions_.failed) actions_.failed();
  }

  void DocumentComplete(IDispatch* frame, const std::string& url) {
    if (!SameObject(frame, top_) || EqualsNoCase(url, "about:blank")) return;
    loading_ = false;
    if (actions_.loaded) actions_.loaded();
  }

  IUnknown* top_;
  BrowserSinkActions actions_;
  ShellThrottle throttle_;
  bool loading_ = false;  // the panel's own address asked, no page or frame shown since
  ULONG refs_ = 1;
};

// The player's last click or key press, seen as the window thread takes it
// from its queue (a page's script cannot make one). Window thread only.
struct InputWatch {
  HHOOK hook = nullptr;
  int users = 0;
  HWND window = nullptr;
  DWORD tick = 0;
};
InputWatch g_input;
constexpr DWORD kClickCountsMs = 1000;

LRESULT CALLBACK WatchInput(int code, WPARAM removed, LPARAM lp) {
  if (code == HC_ACTION && removed == PM_REMOVE && lp) {
    const MSG& m = *reinterpret_cast<const MSG*>(lp);
    bool gesture = m.message == WM_LBUTTONDOWN || m.message == WM_LBUTTONUP || m.message == WM_MBUTTONUP ||
                   (m.message == WM_KEYDOWN && (m.wParam == VK_RETURN || m.wParam == VK_SPACE));
    if (gesture) {
      g_input.window = m.hwnd;
      g_input.tick = ::GetTickCount();
    }
  }
  return ::CallNextHookEx(nullptr, code, removed, lp);
}

void WatchInputFor(bool start) {
  if (start && g_input.users++ == 0)
    g_input.hook = ::SetWindowsHookExW(WH_GETMESSAGE, WatchInput, nullptr, ::GetCurrentThreadId());
  if (!start && --g_input.users == 0 && g_input.hook) {
    ::UnhookWindowsHookEx(g_input.hook);
    g_input.hook = nullptr;
  }
}

// Detaches the object from its site; the owners then release the browser,
// the object, the site and last the window.
void CloseObject(IOleObject* object) {
  object->Close(OLECLOSE_NOSAVE);
  object->SetClientSite(nullptr);
}

class Host final : public BrowserHost {
 public:
  Host(UniqueWindow hwnd, ComPtr<Site> site, ComPtr<IOleObject> object, ComPtr<IWebBrowser2> browser,
       BrowserCallbacks callbacks)
      : hwnd_(std::move(hwnd)), site_(std::move(site)), object_(std::move(object)), browser_(std::move(browser)),
        callbacks_(std::move(callbacks)) {
    ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    BrowserSinkActions actions;
    actions.panelAddress = [this] { return panel_; };
    // Inside the engine's events nothing is changed: the work waits for the
    // host window's queue.
    actions.loaded = [this] { Defer([this] { if (callbacks_.loaded) callbacks_.loaded(); }); };
    actions.failed = [this] { Defer([this] { if (callbacks_.failed) callbacks_.failed(); }); };
    actions.openInBrowser = [this](const std::string& url) {
      Defer([this, url] { if (callbacks_.openInBrowser) callbacks_.openInBrowser(url); });
    };
    actions.loadInPanel = [this](const std::string& url) { Defer([this, url] { Go(url); }); };
    actions.clicked = [this] {
      HWND w = g_input.window;
      return w && (w == hwnd_.get() || ::IsChild(hwnd_.get(), w)) && ::GetTickCount() - g_input.tick < kClickCountsMs;
    };
    WatchInputFor(true);
    ComPtr<IDispatch> sink = CreateBrowserSink(browser_.get(), std::move(actions));
    ComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, container.out_void())) && container &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point_.out())) && point_ &&
        FAILED(point_->Advise(sink.get(), &cookie_)))
      cookie_ = 0;
    if (!cookie_) platform::Log("announcement panel: the browser control's events are not connected");
  }
  ~Host() override {
    ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, 0);
    WatchInputFor(false);
    if (cookie_) point_->Unadvise(cookie_);
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
  void Navigate(const std::string& address) override {
    panel_ = address;
    bool web = platform::IsWebAddress(address) && DecideNavigation(address, address) == Navigation::Stay;
    Go(web ? address : std::string("about:blank"));
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunDeferred) {
      if (auto* self = reinterpret_cast<Host*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))) self->RunDeferred();
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }

 private:
  void Go(const std::string& url) {
    UniqueBstr bstr(::SysAllocString(Widen(url).c_str()));
    VARIANT empty;
    ::VariantInit(&empty);
    browser_->Navigate(bstr.get(), &empty, &empty, &empty, &empty);
  }
  void Defer(std::function<void()> work) {
    deferred_.push_back(std::move(work));
    ::PostMessageW(hwnd_.get(), kRunDeferred, 0, 0);
  }
  void RunDeferred() {
    // One at a time: a callback may destroy this host.
    if (deferred_.empty()) return;
    std::function<void()> work = std::move(deferred_.front());
    deferred_.pop_front();
    if (!deferred_.empty()) ::PostMessageW(hwnd_.get(), kRunDeferred, 0, 0);
    work();
  }

  // Released in reverse: connection, browser, object, site, window.
  UniqueWindow hwnd_;
  ComPtr<Site> site_;
  ComPtr<IOleObject> object_;
  ComPtr<IWebBrowser2> browser_;
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  BrowserCallbacks callbacks_;
  std::string panel_;
  std::deque<std::function<void()>> deferred_;
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

LONG WriteBrowserEmulation() {
  wchar_t path[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (n == 0 || n >= std::size(path)) return ERROR_INSUFFICIENT_BUFFER;
  std::wstring_view full(path, n);
  std::wstring name(full.substr(full.find_last_of(L"\\/") + 1));
  HKEY raw = nullptr;
  // Per user only: no rights needed, and nothing of other programs changes.
  LONG rc = ::RegCreateKeyExW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION", 0,
      nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  UniqueRegKey key(raw);
  const DWORD mode = 11001;  // the newest engine, whatever the page's doctype
  return ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof mode);
}

bool SetEngineFeatureControls() {
  // urlmon is no known DLL: by full path, never by bare name.
  static HMODULE urlmon = platform::win32::LoadSystemLibrary(L"urlmon.dll");
  using SetFeatureFn = HRESULT(WINAPI*)(INTERNETFEATURELIST, DWORD, BOOL);
  auto set = urlmon ? reinterpret_cast<SetFeatureFn>(
                          reinterpret_cast<void*>(::GetProcAddress(urlmon, "CoInternetSetFeatureEnabled")))
                    : nullptr;
  if (!set) return false;
  bool all = true;
  for (INTERNETFEATURELIST feature : {FEATURE_RESTRICT_FILEDOWNLOAD, FEATURE_RESTRICT_ACTIVEXINSTALL,
                                      FEATURE_ZONE_ELEVATION, FEATURE_WEBOC_POPUPMANAGEMENT})
    all = SUCCEEDED(set(feature, SET_FEATURE_ON_PROCESS, TRUE)) && all;
  return all;
}

ComPtr<IOleClientSite> CreateBrowserSite(HWND hwnd) { return ComPtr<IOleClientSite>(new Site(hwnd)); }

ComPtr<IDispatch> CreateBrowserSink(IUnknown* topFrame, BrowserSinkActions actions) {
  return ComPtr<IDispatch>(new Sink(topFrame, std::move(actions)));
}

std::unique_ptr<BrowserHost> CreateBrowserHost(HWND parent, BrowserCallbacks callbacks) {
  static bool probed = false, available = false;
  if (!probed) {
    probed = true;
    // Read once, when the engine first loads in the process: before the probe.
    if (LONG rc = WriteBrowserEmulation(); rc != ERROR_SUCCESS)
      platform::Log("announcement panel: the document-mode value was not written (error " + std::to_string(rc) + ")");
    if (!SetEngineFeatureControls()) platform::Log("announcement panel: the engine's safety switches were not all set");
    available = HtmlEngineAvailable();
    if (!available) platform::Log("announcement panel: no HTML engine; the panel shows the address as a link");
  }
  if (!available) return nullptr;

  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Host::Proc;
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
  return std::make_unique<Host>(std::move(hwnd), std::move(site), std::move(object), std::move(browser),
                                std::move(callbacks));
}

}  // namespace ui::win32
