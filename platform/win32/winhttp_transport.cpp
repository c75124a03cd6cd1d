// WinHTTP backend of the download transport: a session with no proxy,
// cookies off and the default redirect policy (follows up to 10, never from
// HTTPS to HTTP). The session runs asynchronously so that the worker waits on
// a condition variable it controls: a Cancel from another thread or the stall
// limit ends the wait at once, and the request handle is then closed (a
// blocked synchronous call cannot be ended from outside everywhere).
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_headers.h"
#include "platform/http_transport.h"
#include "platform/log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/winhttp_failure.h"

namespace platform {

unsigned long OfferCurrentTls(void* session, const WinHttpOptionSetter& set) {
  auto apply = [&](unsigned long value) {
    if (set) return set(session, WINHTTP_OPTION_SECURE_PROTOCOLS, value);
    DWORD v = value;
    return ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &v, sizeof v) != FALSE;
  };
  for (unsigned long value : {kSecureProtocolsTls10To12 | kSecureProtocolTls13, kSecureProtocolsTls10To12})
    if (apply(value)) return value;
  return 0;
}

HttpFailure WinHttpFailureKind(unsigned long code, bool responseBegan) {
  switch (code) {
    case ERROR_SUCCESS:
      return HttpFailure::None;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return HttpFailure::Connect;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:  // every TLS failure under Wine
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return HttpFailure::Tls;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // Wine's receive time-out
    case ERROR_TIMEOUT:
      return HttpFailure::Stall;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_HEADER:
    case ERROR_WINHTTP_REDIRECT_FAILED:
    case ERROR_WINHTTP_HEADER_COUNT_EXCEEDED:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH:
      return HttpFailure::Protocol;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return HttpFailure::Cancelled;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      // Wine reports a connection the server closed or reset, with no
      // answer or in the middle of one, as an invalid response: a passing
      // fault to try again, not a permanent one.
      return responseBegan ? HttpFailure::Broken : HttpFailure::Connect;
    default:
      // ERROR_WINHTTP_CONNECTION_ERROR and the like: before the response the
      // connection never served us, after it began it broke.
      return responseBegan ? HttpFailure::Broken : HttpFailure::Connect;
  }
}

namespace {

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::WinHttpCloseHandle(h); }
};
using UniqueWinHttpHandle = win32::UniqueHandle<WinHttpHandleTraits>;

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
  HttpFailure LastFailure() override { return kind_; }
  std::string ResponseHeader(std::string_view name) override { return responseHeaders_.Get(name); }

 private:
  // What the status callback touches. The request handle holds its own
  // reference, dropped at HANDLE_CLOSING, so a late callback after a cancel
  // never reaches a destroyed transport or a caller's buffer.
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    bool cancelled = false;
    bool pending = false;
    bool opOk = false;
    DWORD opError = 0;
    DWORD opBytes = 0;
    std::vector<std::uint8_t> buffer;  // reads land here, then are copied out
  };
  static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
  // The first failure is the request's: later calls fail for its reason.
  bool Fail(const std::string& what, DWORD code, HttpFailure kind) {
    if (error_.empty()) {
      error_ = what + " failed: " + std::to_string(code);
      kind_ = kind;
    }
    return false;
  }
  bool Fail(const std::string& what, DWORD code) { return Fail(what, code, WinHttpFailureKind(code, responseBegan_)); }
  // WinHTTP ends the body normally when the server closes early: a body
  // short of its Content-Length is a broken connection all the same.
  bool EndsShort() const { return contentLength_ >= 0 && bodyRead_ < contentLength_; }
  // Marks an operation as pending before it is issued: its completion may
  // arrive before the call returns.
  void Begin();
  // Waits for the pending operation. On cancel or stall the request is
  // closed and false returned.
  bool Wait(const char* what);
  void CloseRequest();

  std::shared_ptr<State> st_ = std::make_shared<State>();

  // Close() ends them request first; declared so that destruction would too.
  UniqueWinHttpHandle session_;
  UniqueWinHttpHandle connection_;
  UniqueWinHttpHandle request_;
  int stallLimitMs_ = kDefaultStallLimitMs;
  int status_ = 0;
  std::int64_t contentLength_ = -1;
  std::int64_t bodyRead_ = 0;
  bool responseBegan_ = false;  // the final response's headers came
  HttpHeaderBlock responseHeaders_;
  std::string error_;
  HttpFailure kind_ = HttpFailure::None;
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

void CALLBACK WinHttpTransport::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* holder = reinterpret_cast<std::shared_ptr<State>*>(context);
  if (!holder) return;
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    {
      std::lock_guard<std::mutex> lock((*holder)->mutex);
      (*holder)->pending = false;
      (*holder)->cv.notify_all();
    }
    delete holder;  // the handle's reference
    return;
  }
  State& t = **holder;
  std::lock_guard<std::mutex> lock(t.mutex);
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      t.opOk = true;
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      t.opBytes = info ? *static_cast<DWORD*>(info) : 0;
      t.opOk = true;
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      t.opBytes = length;
      t.opOk = true;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      t.opError = info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError : 0;
      t.opOk = false;
      break;
    default:
      return;
  }
  t.pending = false;
  t.cv.notify_all();
}

void WinHttpTransport::Begin() {
  std::lock_guard<std::mutex> lock(st_->mutex);
  st_->pending = true;
  st_->opOk = false;
  st_->opError = 0;
  st_->opBytes = 0;
}

bool WinHttpTransport::Wait(const char* what) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallLimitMs_);
  std::unique_lock<std::mutex> lock(st_->mutex);
  bool done = st_->cv.wait_until(lock, deadline, [this] { return !st_->pending || st_->cancelled; });
  if (done && !st_->pending && !st_->cancelled) {
    if (st_->opOk) return true;
    DWORD code = st_->opError;
    lock.unlock();
    return Fail(what, code);
  }
  bool cancelled = st_->cancelled;
  lock.unlock();
  CloseRequest();  // the pending operation ends with the handle
  if (cancelled) return Fail(std::string(what) + " cancelled", 0, HttpFailure::Cancelled);
  return Fail(std::string(what) + " stalled", 0, HttpFailure::Stall);
}

void WinHttpTransport::CloseRequest() { request_.reset(); }

bool WinHttpTransport::Send(const HttpGetRequest& request) {
  if (session_) return Fail("Send (twice)", 0, HttpFailure::Protocol);
  stallLimitMs_ = request.stallLimitMs;
  if (!::WinHttpCheckPlatform()) return Fail("WinHttpCheckPlatform", ::GetLastError());
  std::wstring url = win32::Widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    return Fail("WinHttpCrackUrl", ::GetLastError());
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
    return Fail("scheme", 0, HttpFailure::Protocol);
  // Header lines for WinHttpSendRequest, separated by CR LF.
  std::string lines;
  auto addLine = [&lines](const std::string& line) {
    if (line.empty()) return;
    if (!lines.empty()) lines += "\r\n";
    lines += line;
  };
  addLine(request.header);
  for (const auto& more : request.moreHeaders) addLine(more);
  if (!IsSingleHeaderLine(request.header)) return Fail("header line with a line break", 0, HttpFailure::Protocol);
  for (const auto& more : request.moreHeaders)
    if (!IsSingleHeaderLine(more)) return Fail("header line with a line break", 0, HttpFailure::Protocol);
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object = parts.dwUrlPathLength ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"/";
  if (parts.dwExtraInfoLength) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  session_.reset(::WinHttpOpen(win32::Widen(request.userAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  if (!session_) return Fail("WinHttpOpen", ::GetLastError());
  // Refused: the system's own choice stays, which may still reach the server.
  const unsigned long tls = OfferCurrentTls(session_.get());
  static std::atomic<bool> tlsLogged{false};
  if (!tlsLogged.exchange(true)) Log("https sessions offer TLS flags " + std::to_string(tls));
  int t = request.stallLimitMs;
  ::WinHttpSetTimeouts(session_.get(), t, t, t, t);
  connection_.reset(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
  if (!connection_) return Fail("WinHttpConnect", ::GetLastError());
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  request_.reset(::WinHttpOpenRequest(connection_.get(), L"GET", object.c_str(), L"HTTP/1.1", WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request_) return Fail("WinHttpOpenRequest", ::GetLastError());
  HINTERNET req = request_.get();
  // The session's time-outs do not reach the request everywhere: set them here too.
  ::WinHttpSetTimeouts(req, t, t, t, t);
  DWORD receive = static_cast<DWORD>(t);
  ::WinHttpSetOption(req, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive, sizeof receive);
  DWORD noCookies = WINHTTP_DISABLE_COOKIES;
  if (!::WinHttpSetOption(req, WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies))
    return Fail("WinHttpSetOption", ::GetLastError());
  auto* holder = new std::shared_ptr<State>(st_);
  DWORD_PTR self = reinterpret_cast<DWORD_PTR>(holder);
  if (!::WinHttpSetOption(req, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self)) {
    delete holder;
    return Fail("WinHttpSetOption(context)", ::GetLastError());
  }
  // From here HANDLE_CLOSING releases the holder.
  if (::WinHttpSetStatusCallback(req, &WinHttpTransport::OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    // No callback, so no HANDLE_CLOSING will ever release the holder.
    DWORD error = ::GetLastError();
    DWORD_PTR none = 0;
    ::WinHttpSetOption(req, WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof none);
    delete holder;
    return Fail("WinHttpSetStatusCallback", error);
  }

  std::wstring header = win32::Widen(lines);
  {
    std::lock_guard<std::mutex> lock(st_->mutex);
    if (st_->cancelled) return Fail("cancelled", 0, HttpFailure::Cancelled);
  }
  Begin();
  if (!::WinHttpSendRequest(req, header.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : header.c_str(),
                            static_cast<DWORD>(header.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, self))
    return Fail("WinHttpSendRequest", ::GetLastError());
  if (!Wait("WinHttpSendRequest")) return false;
  Begin();
  if (!::WinHttpReceiveResponse(req, nullptr)) return Fail("WinHttpReceiveResponse", ::GetLastError());
  if (!Wait("WinHttpReceiveResponse")) return false;
  responseBegan_ = true;

  DWORD code = 0, size = sizeof code;
  if (!::WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX))
    return Fail("WinHttpQueryHeaders(status)", ::GetLastError());
  status_ = static_cast<int>(code);

  // After redirects these are the final response's.
  DWORD rawBytes = 0;
  ::WinHttpQueryHeaders(req, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &rawBytes, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && rawBytes > 0) {
    std::wstring raw(rawBytes / sizeof(wchar_t) + 1, L'\0');
    if (::WinHttpQueryHeaders(req, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                              &rawBytes, WINHTTP_NO_HEADER_INDEX)) {
      raw.resize(rawBytes / sizeof(wchar_t));
      responseHeaders_.AddBlock(win32::Narrow(raw));
    }
  }

  // Content-Length as text: it may exceed 32 bits.
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(req, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && bytes > 0) {
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::WinHttpQueryHeaders(req, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
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
  HINTERNET r = request_.get();
  {
    std::lock_guard<std::mutex> lock(st_->mutex);
    if (st_->cancelled || !r) return Fail("cancelled", 0, HttpFailure::Cancelled);
  }
  Begin();
  if (!::WinHttpQueryDataAvailable(r, nullptr)) return Fail("WinHttpQueryDataAvailable", ::GetLastError());
  if (!Wait("WinHttpQueryDataAvailable")) return false;
  DWORD bytes;
  {
    std::lock_guard<std::mutex> lock(st_->mutex);
    bytes = st_->opBytes;
  }
  if (bytes == 0 && EndsShort()) return Fail("body ended short", 0, HttpFailure::Broken);
  avail = bytes;
  return true;
}

bool WinHttpTransport::ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) {
  read = 0;
  HINTERNET r = request_.get();
  {
    std::lock_guard<std::mutex> lock(st_->mutex);
    if (st_->cancelled || !r) return Fail("cancelled", 0, HttpFailure::Cancelled);
    if (st_->buffer.size() < size) st_->buffer.resize(size);
  }
  Begin();
  if (!::WinHttpReadData(r, st_->buffer.data(), size, nullptr)) return Fail("WinHttpReadData", ::GetLastError());
  if (!Wait("WinHttpReadData")) return false;
  DWORD got;
  {
    std::lock_guard<std::mutex> lock(st_->mutex);
    got = std::min<DWORD>(st_->opBytes, size);
    std::memcpy(buffer, st_->buffer.data(), got);
  }
  if (got == 0 && size > 0 && EndsShort()) return Fail("body ended short", 0, HttpFailure::Broken);
  bodyRead_ += got;
  read = got;
  return true;
}

void WinHttpTransport::Cancel() {
  std::lock_guard<std::mutex> lock(st_->mutex);
  st_->cancelled = true;
  st_->cv.notify_all();
}

void WinHttpTransport::Close() {
  CloseRequest();
  connection_.reset();
  session_.reset();
}

}  // namespace

std::unique_ptr<HttpTransport> CreateHttpTransport() { return std::make_unique<WinHttpTransport>(); }

}  // namespace platform
