// libcurl backend of the download transport. The headers are read on the
// caller's thread; the body is then received on a thread of the transport's
// own into a bounded ring, as WinHTTP receives in the background, so that the
// caller's file writes overlap the network reads and the availability query
// gives the exact count that has arrived. Cancel and the stall limit end a
// wait on either side.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/http_headers.h"
#include "platform/http_transport.h"
#include "platform/posix/curl_failure.h"

namespace platform {

HttpFailure CurlFailureKind(CURLcode code, bool responseBegan) {
  switch (code) {
    case CURLE_OK:
      return HttpFailure::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_GOT_NOTHING:  // closed before any response byte
      return HttpFailure::Connect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return HttpFailure::Tls;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::Stall;
    case CURLE_PARTIAL_FILE:  // the body ended short of Content-Length
      return HttpFailure::Broken;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return HttpFailure::Protocol;
    case CURLE_ABORTED_BY_CALLBACK:
      return HttpFailure::Cancelled;
    default:
      // A send or receive error: before the response the connection never
      // served us, after it began it broke.
      return responseBegan ? HttpFailure::Broken : HttpFailure::Connect;
  }
}

namespace {

// A receive buffer this large lets one read bring a few hundred KiB; 16 KiB
// chunks cost about a sixth of the throughput on loopback.
constexpr long kReceiveBufferSize = 256 * 1024;
// The most one availability query announces: the caller stages and writes
// chunks of this size, which stay in the caches between the copy and the write.
constexpr std::size_t kReadOffer = kReceiveBufferSize;
// Body bytes received ahead of the reader; beyond this the receiver waits
// and TCP holds the sender back.
constexpr std::size_t kRingSize = 4 * kReceiveBufferSize;
// Each side wakes the other only across half the ring (or when the receiver
// goes idle), so that a busy pair hands over half a ring per wake-up rather
// than a chunk.
constexpr std::size_t kWakeAt = kRingSize / 2;

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void EnsureCurlGlobal() {
  static CurlGlobal once;  // thread-safe; curl_global_init is not
}

class CurlTransport final : public HttpTransport {
 public:
  CurlTransport() { EnsureCurlGlobal(); }
  ~CurlTransport() override { Close(); }

  bool Send(const HttpGetRequest& request) override;
  int StatusCode() override { return status_; }
  std::int64_t ContentLength() override { return contentLength_; }
  bool QueryDataAvailable(std::uint32_t& avail) override;
  bool ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) override;
  void Cancel() override;
  void Close() override;
  std::string LastError() override { return error_; }
  HttpFailure LastFailure() override { return kind_; }
  std::string ResponseHeader(std::string_view name) override {
    return headersDone_ ? responseHeaders_.Get(name) : std::string();
  }

 private:
  static size_t OnBody(char* data, size_t size, size_t n, void* self);
  static size_t OnHeader(char* data, size_t size, size_t n, void* self);
  // Drives the transfer on the caller's thread until ready() or its end.
  template <typename Ready>
  bool Pump(Ready ready);
  // The receiving thread: drives the transfer to its end.
  void Receive();
  // Caller's side: waits until bytes are buffered or the body has ended.
  // False (with the reason recorded) after a cancel or a failed transfer with
  // nothing left to hand out.
  bool WaitForData(std::unique_lock<std::mutex>& lock);
  void EndReceiving(const std::string& failure, HttpFailure kind);
  // The first failure is the request's: later calls fail for its reason.
  bool Fail(const std::string& why, HttpFailure kind) {
    if (error_.empty()) {
      error_ = why;
      kind_ = kind;
    }
    return false;
  }
  bool NotReadable() {
    return headersDone_ ? Fail("closed", HttpFailure::Cancelled) : Fail("not sent", HttpFailure::Protocol);
  }
  bool FailTransfer() { return Fail(curl_easy_strerror(result_), CurlFailureKind(result_, responseBegan_)); }
  void Touch() { lastActivity_ = std::chrono::steady_clock::now(); }
  std::size_t SinceSent() const {
    return static_cast<std::size_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sentAt_).count());
  }
  std::size_t Idle() const {
    return static_cast<std::size_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - lastActivity_)
                                        .count());
  }

  std::mutex handleMutex_;  // guards multi_ against Cancel from another thread
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> closing_{false};

  // Used by whichever thread drives libcurl: the caller's during Send, the
  // receiver afterwards (the thread start orders the two).
  bool finished_ = false;  // the transfer has ended
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;    // a body chunk came during Send that did not fit
  bool receiving_ = false;  // the receiver runs: OnBody may wait for room
  bool headersDone_ = false;
  int blockStatus_ = 0;  // status line of the header block being read
  bool blockLocation_ = false;
  bool responseBegan_ = false;  // a status line of the response now awaited came
  HttpHeaderBlock responseHeaders_;  // fields of the latest header block
  int status_ = 0;
  std::int64_t contentLength_ = -1;
  int stallLimitMs_ = kDefaultStallLimitMs;
  std::chrono::steady_clock::time_point lastActivity_;
  std::chrono::steady_clock::time_point sentAt_;  // the header phase began
  std::thread receiver_;

  // The ring: bytes [head_, head_ + count_) (modulo its size) are the
  // reader's, the rest the receiver's. Each side copies outside the lock and
  // only moves the counters under it.
  std::unique_ptr<std::uint8_t[]> ring_;
  std::mutex ringMutex_;
  std::condition_variable dataCv_;  // bytes arrived or the body ended
  std::condition_variable roomCv_;  // the reader freed room
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool ended_ = false;   // no more bytes will come
  std::string failure_;  // why the body ended early; empty for a normal end
  HttpFailure failureKind_ = HttpFailure::None;
  std::string error_;    // the caller's thread only
  HttpFailure kind_ = HttpFailure::None;
};

size_t CurlTransport::OnHeader(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<CurlTransport*>(self);
  size_t len = size * n;
  t->Touch();
  // Trailers after a chunked body change nothing the caller has read.
  if (t->headersDone_) return len;
  std::string line(data, len);
  if (line.rfind("HTTP/", 0) == 0) {
    t->blockStatus_ = 0;
    t->blockLocation_ = false;
    t->responseBegan_ = true;
    t->responseHeaders_.Clear();
    size_t sp = line.find(' ');
    if (sp != std::string::npos) t->blockStatus_ = std::atoi(line.c_str() + sp + 1);
  } else if (line.size() >= 9 && strncasecmp(line.c_str(), "location:", 9) == 0) {
    t->blockLocation_ = true;
    t->responseHeaders_.AddLine(line);
  } else if (line == "\r\n" || line == "\n") {
    int code = t->blockStatus_;
    bool followed = code >= 300 && code < 400 && t->blockLocation_;
    bool interim = code >= 100 && code < 200;
    if (followed) t->responseBegan_ = false;  // the next request has not been answered yet
    if (!followed && !interim) {
      t->headersDone_ = true;
      t->status_ = code;
      curl_off_t cl = -1;
      if (curl_easy_getinfo(t->easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &cl) == CURLE_OK && cl >= 0)
        t->contentLength_ = cl;
    }
  } else {
    t->responseHeaders_.AddLine(line);
  }
  return len;
}

size_t CurlTransport::OnBody(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<CurlTransport*>(self);
  size_t len = size * n;
  t->Touch();
  if (!t->receiving_) {
    // During Send nobody drains the ring: keep the chunk only if it fits
    // whole; otherwise libcurl holds it until the receiver resumes.
    std::lock_guard<std::mutex> lock(t->ringMutex_);
    if (kRingSize - t->count_ < len) {
      t->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
  }
  size_t copied = 0;
  while (copied < len) {
    size_t tail, room;
    {
      std::unique_lock<std::mutex> lock(t->ringMutex_);
      // The reader frees room as it writes; a full ring holds the sender back.
      if (t->count_ == kRingSize)
        t->roomCv_.wait(lock, [t] { return t->count_ <= kWakeAt || t->cancelled_ || t->closing_; });
      if (t->cancelled_ || t->closing_) return 0;  // aborts the transfer
      tail = (t->head_ + t->count_) % kRingSize;
      room = std::min(kRingSize - t->count_, kRingSize - tail);
    }
    size_t chunk = std::min(room, len - copied);
    std::memcpy(t->ring_.get() + tail, data + copied, chunk);
    copied += chunk;
    bool wake;
    {
      std::lock_guard<std::mutex> lock(t->ringMutex_);
      t->count_ += chunk;
      wake = t->count_ >= kWakeAt;
    }
    if (wake) t->dataCv_.notify_one();
  }
  t->Touch();  // time spent waiting for room is not a silent server
  return len;
}

bool CurlTransport::Send(const HttpGetRequest& request) {
  if (easy_ || headersDone_) return Fail("already sent", HttpFailure::Protocol);
  stallLimitMs_ = request.stallLimitMs;
  bool https = request.url.rfind("https://", 0) == 0;
  if (!https && request.url.rfind("http://", 0) != 0)
    return Fail("not an http or https address", HttpFailure::Protocol);
  std::vector<const std::string*> lines;
  if (!request.header.empty()) lines.push_back(&request.header);
  for (const auto& more : request.moreHeaders)
    if (!more.empty()) lines.push_back(&more);
  for (const auto* line : lines)
    if (!IsSingleHeaderLine(*line)) return Fail("header line with a line break", HttpFailure::Protocol);
  // Failures of our own before any connection count as Connect: nothing was served.
  ring_.reset(new (std::nothrow) std::uint8_t[kRingSize]);
  if (!ring_) return Fail("out of memory", HttpFailure::Connect);
  easy_ = curl_easy_init();
  {
    std::lock_guard<std::mutex> lock(handleMutex_);
    multi_ = curl_multi_init();
  }
  if (!easy_ || !multi_) return Fail("libcurl init failed", HttpFailure::Connect);
  for (const auto* line : lines) {
    curl_slist* next = curl_slist_append(headers_, line->c_str());
    if (!next) return Fail("out of memory", HttpFailure::Connect);
    headers_ = next;
  }
  curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, request.userAgent.c_str());
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");  // no proxy, whatever the environment says
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
  // Never from HTTPS down to HTTP.
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransport::OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransport::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
    return Fail("libcurl add handle failed", HttpFailure::Connect);
  Touch();
  sentAt_ = lastActivity_;
  if (!Pump([this] { return headersDone_; })) return false;
  if (!headersDone_) return Fail("no response", HttpFailure::Connect);
  if (finished_) {  // the whole body came with the headers
    if (result_ != CURLE_OK)
      EndReceiving(curl_easy_strerror(result_), CurlFailureKind(result_, responseBegan_));
    else
      EndReceiving("", HttpFailure::None);
    return true;
  }
  receiving_ = true;
  try {
    receiver_ = std::thread([this] { Receive(); });
  } catch (const std::system_error&) {
    receiving_ = false;
    return Fail("no receiving thread", HttpFailure::Connect);
  }
  return true;
}

template <typename Ready>
bool CurlTransport::Pump(Ready ready) {
  while (true) {
    if (cancelled_.load()) return Fail("cancelled", HttpFailure::Cancelled);
    if (ready()) return true;
    if (finished_) {
      if (result_ != CURLE_OK) return FailTransfer();
      return true;
    }
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK)
      return Fail("libcurl perform failed", responseBegan_ ? HttpFailure::Broken : HttpFailure::Connect);
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &queued)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == easy_) {
        finished_ = true;
        result_ = m->data.result;
      }
    }
    if (ready() || finished_) continue;
    std::size_t idle = Idle();
    // Headers a line at a time are no answer either: the whole header
    // phase gets one stall limit.
    if (!headersDone_ && SinceSent() >= static_cast<std::size_t>(stallLimitMs_)) idle = SinceSent();
    if (idle >= static_cast<std::size_t>(stallLimitMs_))
      return Fail("no data within the stall limit", HttpFailure::Stall);
    int wait = static_cast<int>(std::min<std::size_t>(stallLimitMs_ - idle, 1000));
    curl_multi_poll(multi_, nullptr, 0, wait, nullptr);
  }
}

void CurlTransport::Receive() {
  std::string failure;
  HttpFailure kind = HttpFailure::None;
  if (paused_) {
    // A chunk held back during Send: offered again now, into the ring.
    paused_ = false;
    if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) {
      failure = "libcurl unpause failed";
      kind = HttpFailure::Broken;
    }
  }
  while (failure.empty()) {
    if (cancelled_.load() || closing_.load()) {
      failure = "cancelled";
      kind = HttpFailure::Cancelled;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      failure = "libcurl perform failed";
      kind = HttpFailure::Broken;
      break;
    }
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &queued)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == easy_) {
        finished_ = true;
        result_ = m->data.result;
      }
    }
    if (finished_) {
      if (cancelled_.load() || closing_.load()) {
        failure = "cancelled";
        kind = HttpFailure::Cancelled;
      } else if (result_ != CURLE_OK) {
        failure = curl_easy_strerror(result_);
        kind = CurlFailureKind(result_, responseBegan_);
      }
      break;
    }
    std::size_t idle = Idle();
    if (idle >= static_cast<std::size_t>(stallLimitMs_)) {
      failure = "no data within the stall limit";
      kind = HttpFailure::Stall;
      break;
    }
    int ready = 0;
    if (curl_multi_poll(multi_, nullptr, 0, 0, &ready) == CURLM_OK && ready > 0) continue;
    // About to sleep: whatever arrived is the reader's now.
    bool pending;
    {
      std::lock_guard<std::mutex> lock(ringMutex_);
      pending = count_ > 0;
    }
    if (pending) dataCv_.notify_one();
    int wait = static_cast<int>(std::min<std::size_t>(stallLimitMs_ - idle, 1000));
    curl_multi_poll(multi_, nullptr, 0, wait, nullptr);
  }
  EndReceiving(failure, kind);
}

void CurlTransport::EndReceiving(const std::string& failure, HttpFailure kind) {
  {
    std::lock_guard<std::mutex> lock(ringMutex_);
    ended_ = true;
    failure_ = failure;
    failureKind_ = kind;
  }
  dataCv_.notify_all();
}

bool CurlTransport::WaitForData(std::unique_lock<std::mutex>& lock) {
  dataCv_.wait(lock, [this] { return count_ > 0 || ended_ || cancelled_; });
  if (cancelled_) return Fail("cancelled", HttpFailure::Cancelled);
  // Bytes that arrived before a failure are handed out first.
  if (count_ == 0 && !failure_.empty()) return Fail(failure_, failureKind_);
  return true;
}

bool CurlTransport::QueryDataAvailable(std::uint32_t& avail) {
  avail = 0;
  if (!easy_ || !headersDone_) return NotReadable();
  std::unique_lock<std::mutex> lock(ringMutex_);
  if (!WaitForData(lock)) return false;
  avail = static_cast<std::uint32_t>(std::min(count_, kReadOffer));  // 0: end of body
  return true;
}

bool CurlTransport::ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) {
  read = 0;
  if (!easy_ || !headersDone_) return NotReadable();
  if (size == 0) return true;
  std::size_t n, head;
  {
    std::unique_lock<std::mutex> lock(ringMutex_);
    if (!WaitForData(lock)) return false;
    n = std::min<std::size_t>(count_, size);  // 0: end of body
    head = head_;
  }
  if (n == 0) return true;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t first = std::min(n, kRingSize - head);
  std::memcpy(out, ring_.get() + head, first);
  std::memcpy(out + first, ring_.get(), n - first);
  bool wake;
  {
    std::lock_guard<std::mutex> lock(ringMutex_);
    head_ = (head_ + n) % kRingSize;
    count_ -= n;
    wake = count_ <= kWakeAt;
  }
  if (wake) roomCv_.notify_one();
  read = static_cast<std::uint32_t>(n);
  return true;
}

void CurlTransport::Cancel() {
  {
    std::lock_guard<std::mutex> lock(ringMutex_);
    cancelled_.store(true);
  }
  dataCv_.notify_all();
  roomCv_.notify_all();
  std::lock_guard<std::mutex> lock(handleMutex_);
  if (multi_) curl_multi_wakeup(multi_);
}

void CurlTransport::Close() {
  if (receiver_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(ringMutex_);
      closing_.store(true);
    }
    roomCv_.notify_all();
    {
      std::lock_guard<std::mutex> lock(handleMutex_);
      if (multi_) curl_multi_wakeup(multi_);
    }
    receiver_.join();
  }
  CURLM* multi;
  {
    std::lock_guard<std::mutex> lock(handleMutex_);
    multi = multi_;
    multi_ = nullptr;
  }
  if (multi && easy_) curl_multi_remove_handle(multi, easy_);
  if (easy_) curl_easy_cleanup(easy_);
  easy_ = nullptr;
  if (multi) curl_multi_cleanup(multi);
  if (headers_) curl_slist_free_all(headers_);
  headers_ = nullptr;
}

}  // namespace

std::unique_ptr<HttpTransport> CreateHttpTransport() { return std::make_unique<CurlTransport>(); }

}  // namespace platform
