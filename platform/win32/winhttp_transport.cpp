// WinHTTP backend of the download transport: a synchronous session with no
// proxy, cookies off and the default redirect policy (follows up to 10, never
// from HTTPS to HTTP). Receive time-outs carry the stall limit.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/http_transport.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {

class WinHttpTransport final : public HttpTransport {
 public:
  ~WinHttpTransport() override { Close(); }

  bool Send(const HttpGetRequest& request) override;
  int StatusCode() override { return status_; }
  std::int64_t ContentLength() override { return contentLength_; }
  bool QueryDataAvailable(std::uint32_t& avail) override;
  bool ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) override;
  void Cancel() override;
  void Close() override;
  std::string LastError() override { return error_; }

 private:
  bool Fail(const char* what) {
    if (error_.empty()) error_ = std::string(what) + " failed: " + std::to_string(::GetLastError());
    return false;
  }
  // The request handle for one call, or null once cancelled or closed.
  HINTERNET Request() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_ ? nullptr : request_;
  }

  std::mutex mutex_;  // guards the handles against Cancel from another thread
  bool cancelled_ = false;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  int status_ = 0;
  std::int64_t contentLength_ = -1;
  std::string error_;
};

bool ParseInt64(const std::wstring& text, std::int64_t& out) {
  if (text.empty()) return false;
  std::int64_t v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    if (v > (INT64_MAX - (c - L'0')) / 10) return false;
    v = v * 10 + (c - L'0');
  }
  out = v;
  return true;
}

bool WinHttpTransport::Send(const HttpGetRequest& request) {
  if (session_) return Fail("Send (twice)");
  if (!::WinHttpCheckPlatform()) return Fail("WinHttpCheckPlatform");
  std::wstring url = win32::Widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return Fail("WinHttpCrackUrl");
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return Fail("scheme");
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object = parts.dwUrlPathLength ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"/";
  if (parts.dwExtraInfoLength) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  HINTERNET session = ::WinHttpOpen(win32::Widen(request.userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return Fail("WinHttpOpen");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = session;
    if (cancelled_) return Fail("cancelled");
  }
  int t = request.stallLimitMs;
  ::WinHttpSetTimeouts(session, t, t, t, t);
  HINTERNET connection = ::WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  if (!connection) return Fail("WinHttpConnect");
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  HINTERNET req = ::WinHttpOpenRequest(connection, L"GET", object.c_str(), L"HTTP/1.1", WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection_ = connection;
    request_ = req;
  }
  if (!req) return Fail("WinHttpOpenRequest");
  DWORD noCookies = WINHTTP_DISABLE_COOKIES;
  if (!::WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies))
    return Fail("WinHttpSetOption");
  std::wstring header = win32::Widen(request.header);
  HINTERNET r = Request();
  if (!r) return Fail("cancelled");
  if (!::WinHttpSendRequest(r, header.c_str(), static_cast<DWORD>(header.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
    return Fail("WinHttpSendRequest");
  if (!(r = Request())) return Fail("cancelled");
  if (!::WinHttpReceiveResponse(r, nullptr)) return Fail("WinHttpReceiveResponse");

  DWORD code = 0, size = sizeof code;
  if (!(r = Request())) return Fail("cancelled");
  if (!::WinHttpQueryHeaders(r, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &code, &size, WINHTTP_NO_HEADER_INDEX))
    return Fail("WinHttpQueryHeaders(status)");
  status_ = static_cast<int>(code);

  // Content-Length as text: it may exceed 32 bits.
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(r, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && bytes > 0) {
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::WinHttpQueryHeaders(r, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                              WINHTTP_NO_HEADER_INDEX)) {
      value.resize(bytes / sizeof(wchar_t));
      std::int64_t v;
      if (ParseInt64(value, v)) contentLength_ = v;
    }
  }
  return true;
}

bool WinHttpTransport::QueryDataAvailable(std::uint32_t& avail) {
  avail = 0;
  HINTERNET r = Request();
  if (!r) return Fail("cancelled");
  DWORD n = 0;
  if (!::WinHttpQueryDataAvailable(r, &n)) return Fail("WinHttpQueryDataAvailable");
  if (Request() == nullptr) return Fail("cancelled");
  avail = n;
  return true;
}

bool WinHttpTransport::ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) {
  read = 0;
  HINTERNET r = Request();
  if (!r) return Fail("cancelled");
  DWORD n = 0;
  if (!::WinHttpReadData(r, buffer, size, &n)) return Fail("WinHttpReadData");
  if (Request() == nullptr) return Fail("cancelled");
  read = n;
  return true;
}

void WinHttpTransport::Cancel() {
  // Closing the request from here ends a blocked synchronous call on the
  // worker; the worker never uses the handle again.
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return;
  cancelled_ = true;
  if (request_) ::WinHttpCloseHandle(request_);
  request_ = nullptr;
}

void WinHttpTransport::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (request_) ::WinHttpCloseHandle(request_);
  if (connection_) ::WinHttpCloseHandle(connection_);
  if (session_) ::WinHttpCloseHandle(session_);
  request_ = connection_ = session_ = nullptr;
  cancelled_ = true;
}

}  // namespace

std::unique_ptr<HttpTransport> CreateHttpTransport() { return std::make_unique<WinHttpTransport>(); }

}  // namespace platform
