// The picture fetch over WinINet. wininet.h lives in this file alone: it cannot
// share a translation unit with winhttp.h.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <string>
#include <type_traits>

#include "platform/http_read.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {

// WinINet is loaded by full path from the system folder on first use: it is
// not a known DLL, so a load-time import would be looked for beside the exe.
struct WinInet {
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
  decltype(&::InternetCrackUrlW) InternetCrackUrlW = nullptr;
  decltype(&::InternetOpenW) InternetOpenW = nullptr;
  decltype(&::InternetSetOptionW) InternetSetOptionW = nullptr;
  decltype(&::InternetConnectW) InternetConnectW = nullptr;
  decltype(&::HttpOpenRequestW) HttpOpenRequestW = nullptr;
  decltype(&::HttpSendRequestW) HttpSendRequestW = nullptr;
  decltype(&::HttpQueryInfoW) HttpQueryInfoW = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  bool ok = false;
};

const WinInet& Api() {
  static const WinInet api = [] {
    WinInet a;
    HMODULE m = win32::LoadSystemLibrary(L"wininet.dll");
    if (!m) return a;
    auto bind = [m](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
      return fn != nullptr;
    };
    a.ok = bind(a.InternetCloseHandle, "InternetCloseHandle") &&
           bind(a.InternetCrackUrlW, "InternetCrackUrlW") &&
           bind(a.InternetOpenW, "InternetOpenW") &&
           bind(a.InternetSetOptionW, "InternetSetOptionW") &&
           bind(a.InternetConnectW, "InternetConnectW") &&
           bind(a.HttpOpenRequestW, "HttpOpenRequestW") &&
           bind(a.HttpSendRequestW, "HttpSendRequestW") &&
           bind(a.HttpQueryInfoW, "HttpQueryInfoW") &&
           bind(a.InternetReadFile, "InternetReadFile");
    return a;
  }();
  return api;
}

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Api().InternetCloseHandle(h); }
};
using UniqueInternetHandle = win32::UniqueHandle<InternetHandleTraits>;

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;  // 0x84000000
constexpr DWORD kTimeoutMs = 30000;

}  // namespace

Bytes HttpReadFile(const std::string& url, const HttpReadLimits& limits, const std::atomic<bool>* cancel) {
  Bytes out;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(limits.deadlineMs);
  // What is left of the deadline, as a per-operation timeout.
  auto remaining = [deadline]() -> DWORD {
    ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kTimeoutMs));
  };
  auto stopped = [cancel] { return cancel && cancel->load(); };
  if (url.empty() || !Api().ok) return out;
  std::wstring wurl = win32::Widen(url);

  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {};
  wchar_t path[4096] = {};
  wchar_t extra[4096] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = static_cast<DWORD>(std::size(extra));
  if (!Api().InternetCrackUrlW(wurl.c_str(), 0, 0, &parts)) return out;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return out;
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  UniqueInternetHandle session(Api().InternetOpenW(L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                               INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) return out;
  // A dead host must not keep the fetching thread for minutes.
  DWORD timeout = std::max<DWORD>(remaining(), 1);
  Api().InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  Api().InternetSetOptionW(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  Api().InternetSetOptionW(session.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);

  UniqueInternetHandle connection(
      Api().InternetConnectW(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return out;

  std::wstring object = std::wstring(path) + extra;
  if (object.empty()) object = L"/";
  const wchar_t* accept[] = {L"Accept: */* \r\n", nullptr};
  DWORD flags = kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0);
  UniqueInternetHandle request(
      Api().HttpOpenRequestW(connection.get(), L"GET", object.c_str(), L"HTTP/1.0", nullptr, accept, flags, 0));
  if (!request) return out;
  static const wchar_t kHeaders[] = L"Accept: */*\r\n\r\n";
  if (!Api().HttpSendRequestW(request.get(), kHeaders, static_cast<DWORD>(std::size(kHeaders) - 1), nullptr, 0))
    return out;

  DWORD length = 0;
  DWORD size = sizeof length;
  DWORD chunk = 10240;
  if (Api().HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
    chunk = static_cast<DWORD>(std::min<unsigned long long>(static_cast<unsigned long long>(length) + 1, 102400));
  if (length > limits.maxBytes) return {};
  Bytes buffer(chunk);
  while (true) {
    DWORD left = remaining();
    if (left == 0 || stopped()) return {};
    Api().InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof left);
    DWORD got = 0;
    if (!Api().InternetReadFile(request.get(), buffer.data(), chunk, &got) || got == 0) break;
    if (got > limits.maxBytes - out.size()) return {};
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  if (remaining() == 0 || stopped()) return {};
  return out;
}

}  // namespace platform
