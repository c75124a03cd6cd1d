// One HTTP GET per transport object: send the request, read the status and
// the announced size, then drain the body with an availability query and a
// read loop. The WinHTTP backend serves the Windows build, libcurl the
// native one; the download engine above is the same for both.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr char kDownloadUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/76.0.3809.132 Safari/537.36";
// Sent as is: no space, no CR LF.
inline constexpr char kDownloadRangeHeader[] = "Range:bytes=0-";
inline constexpr int kDefaultStallLimitMs = 60000;

// What broke a request, for the engine's retry rule and the player's reason.
enum class HttpFailure {
  None,
  Connect,    // no connection (refused, unreachable, name not found, reset before the response)
  Tls,        // the secure channel failed (certificate, handshake)
  Stall,      // no byte for the stall limit
  Broken,     // the connection broke after the response began
  Protocol,   // a malformed response, too many redirects, HTTPS to HTTP
  Cancelled,  // Cancel was called
};

struct HttpGetRequest {
  std::string url;  // http:// or https://
  std::string userAgent = kDownloadUserAgent;
  std::string header = kDownloadRangeHeader;  // one extra header line
  // Further header lines, "Name: value", sent after header. Send refuses a
  // line that holds CR, LF or NUL (Protocol): values may come from a server.
  std::vector<std::string> moreHeaders;
  // A connection that brings no byte for this long fails.
  int stallLimitMs = kDefaultStallLimitMs;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // Connects, sends the GET (no proxy, cookies off, certificates verified,
  // at most 10 redirects and never from HTTPS to HTTP) and reads the final
  // response's headers.
  [[nodiscard]] virtual bool Send(const HttpGetRequest& request) = 0;
  // The final response's status code; 0 before Send succeeded.
  [[nodiscard]] virtual int StatusCode() = 0;
  // Content-Length of the final response; -1 when absent or unreadable.
  [[nodiscard]] virtual std::int64_t ContentLength() = 0;
  // Blocks until body bytes can be read; avail 0 is the end of the body.
  // A backend that cannot tell the exact count ahead gives an upper bound of
  // what one read can return, and that read then returns what has arrived
  // (0 at the end of the body). False on a broken connection (a body that
  // ends short of Content-Length included), a stall, a protocol error or
  // after Cancel.
  [[nodiscard]] virtual bool QueryDataAvailable(std::uint32_t& avail) = 0;
  // Reads up to size bytes without waiting for more than has arrived.
  [[nodiscard]] virtual bool ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) = 0;
  // Callable from any thread: a blocked Send, QueryDataAvailable or ReadData
  // returns false promptly, and so does every later call.
  virtual void Cancel() = 0;
  // Releases the connection; the object stays valid (Cancel is then a no-op).
  virtual void Close() = 0;
  // A short description of the latest failure, for diagnostics and tests.
  [[nodiscard]] virtual std::string LastError() = 0;
  // What kind the latest failure was; None while nothing failed. Once a
  // request failed, later calls fail for the same reason and keep it.
  [[nodiscard]] virtual HttpFailure LastFailure() = 0;
  // The final response's header of this name (any case), trimmed; empty when
  // absent. Valid after Send succeeded; the first of repeated headers.
  [[nodiscard]] virtual std::string ResponseHeader(std::string_view name) = 0;
};

// The backend of this build.
std::unique_ptr<HttpTransport> CreateHttpTransport();

}  // namespace platform
