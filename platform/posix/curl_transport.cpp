// libcurl backend of the download transport. One easy handle driven through a
// multi handle, so that the wait for data can be woken by Cancel and bounded
// by the stall limit. Body bytes go straight into the caller's buffer; only
// what does not fit is kept back for the next read.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/http_transport.h"

namespace platform {
namespace {

// A receive buffer this large lets one read bring a few hundred KiB; 16 KiB
// chunks cost about a sixth of the throughput on loopback.
constexpr long kReceiveBufferSize = 256 * 1024;
// What one read is offered. Larger offers (four receive buffers) measured
// slower here: the writes grow past the caches.
constexpr std::uint32_t kReadOffer = kReceiveBufferSize;
// Beyond this much kept back, the transfer is paused until the reader drains it.
constexpr std::size_t kMaxKeptBack = 1024 * 1024;

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

 private:
  static size_t OnBody(char* data, size_t size, size_t n, void* self);
  static size_t OnHeader(char* data, size_t size, size_t n, void* self);
  // Drives the transfer until ready() or its end. False on failure.
  template <typename Ready>
  bool Pump(Ready ready);
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  std::size_t KeptBack() const { return kept_.size() - keptOffset_; }
  void Touch() { lastActivity_ = std::chrono::steady_clock::now(); }

  std::mutex handleMutex_;  // guards multi_ against Cancel from another thread
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::atomic<bool> cancelled_{false};

  bool finished_ = false;  // the transfer has ended
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;
  bool headersDone_ = false;
  int blockStatus_ = 0;  // status line of the header block being read
  bool blockLocation_ = false;
  int status_ = 0;
  std::int64_t contentLength_ = -1;
  int stallLimitMs_ = kDefaultStallLimitMs;
  std::chrono::steady_clock::time_point lastActivity_;

  std::uint8_t* target_ = nullptr;  // the current read's buffer
  std::size_t targetSize_ = 0;
  std::size_t targetFill_ = 0;
  std::vector<std::uint8_t> kept_;
  std::size_t keptOffset_ = 0;
  std::string error_;
};

size_t CurlTransport::OnHeader(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<CurlTransport*>(self);
  size_t len = size * n;
  t->Touch();
  std::string line(data, len);
  if (line.rfind("HTTP/", 0) == 0) {
    t->blockStatus_ = 0;
    t->blockLocation_ = false;
    size_t sp = line.find(' ');
    if (sp != std::string::npos) t->blockStatus_ = std::atoi(line.c_str() + sp + 1);
  } else if (line.size() >= 9 && strncasecmp(line.c_str(), "location:", 9) == 0) {
    t->blockLocation_ = true;
  } else if (line == "\r\n" || line == "\n") {
    int code = t->blockStatus_;
    bool followed = code >= 300 && code < 400 && t->blockLocation_;
    bool interim = code >= 100 && code < 200;
    if (!followed && !interim) {
      t->headersDone_ = true;
      t->status_ = code;
      curl_off_t cl = -1;
      if (curl_easy_getinfo(t->easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &cl) == CURLE_OK && cl >= 0)
        t->contentLength_ = cl;
    }
  }
  return len;
}

size_t CurlTransport::OnBody(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<CurlTransport*>(self);
  size_t len = size * n;
  t->Touch();
  if (t->KeptBack() == 0 && t->target_) {
    size_t room = t->targetSize_ - t->targetFill_;
    size_t direct = std::min(room, len);
    std::memcpy(t->target_ + t->targetFill_, data, direct);
    t->targetFill_ += direct;
    data += direct;
    len -= direct;
    if (len == 0) return size * n;
  }
  if (t->KeptBack() >= kMaxKeptBack) {
    t->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;  // curl keeps this chunk and offers it again on unpause
  }
  if (t->keptOffset_ == t->kept_.size()) {
    t->kept_.clear();
    t->keptOffset_ = 0;
  }
  t->kept_.insert(t->kept_.end(), data, data + len);
  return size * n;
}

bool CurlTransport::Send(const HttpGetRequest& request) {
  if (easy_) return Fail("already sent");
  stallLimitMs_ = request.stallLimitMs;
  bool https = request.url.rfind("https://", 0) == 0;
  if (!https && request.url.rfind("http://", 0) != 0) return Fail("not an http or https address");
  easy_ = curl_easy_init();
  {
    std::lock_guard<std::mutex> lock(handleMutex_);
    multi_ = curl_multi_init();
  }
  if (!easy_ || !multi_) return Fail("libcurl init failed");
  headers_ = curl_slist_append(nullptr, request.header.c_str());
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
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return Fail("libcurl add handle failed");
  Touch();
  if (!Pump([this] { return headersDone_; })) return false;
  if (!headersDone_) return Fail("no response");
  return true;
}

template <typename Ready>
bool CurlTransport::Pump(Ready ready) {
  while (true) {
    if (cancelled_.load()) return Fail("cancelled");
    if (ready()) return true;
    if (finished_) {
      if (result_ != CURLE_OK) return Fail(curl_easy_strerror(result_));
      return true;
    }
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) return Fail("libcurl perform failed");
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &queued)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == easy_) {
        finished_ = true;
        result_ = m->data.result;
      }
    }
    if (ready() || finished_) continue;
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                      lastActivity_).count();
    if (idle >= stallLimitMs_) return Fail("no data within the stall limit");
    int wait = static_cast<int>(std::min<long long>(stallLimitMs_ - idle, 1000));
    curl_multi_poll(multi_, nullptr, 0, wait, nullptr);
  }
}

bool CurlTransport::QueryDataAvailable(std::uint32_t& avail) {
  avail = 0;
  if (!easy_ || !headersDone_) return Fail("not sent");
  if (cancelled_.load()) return Fail("cancelled");
  if (KeptBack() > 0) {
    avail = static_cast<std::uint32_t>(std::min<std::size_t>(KeptBack(), UINT32_MAX));
    return true;
  }
  if (finished_) {
    if (result_ != CURLE_OK) return Fail(curl_easy_strerror(result_));
    return true;  // end of body
  }
  // libcurl cannot tell how much has arrived before reading it: offer one
  // receive buffer; the read returns what came.
  avail = kReadOffer;
  return true;
}

bool CurlTransport::ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) {
  read = 0;
  if (!easy_ || !headersDone_) return Fail("not sent");
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (KeptBack() > 0) {
    std::size_t n = std::min<std::size_t>(size, KeptBack());
    std::memcpy(out, kept_.data() + keptOffset_, n);
    keptOffset_ += n;
    read = static_cast<std::uint32_t>(n);
    return true;
  }
  if (size == 0) return true;
  target_ = out;
  targetSize_ = size;
  targetFill_ = 0;
  bool ok = true;
  if (paused_) {
    paused_ = false;
    // Offers the held chunk again, into target_.
    if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) ok = Fail("libcurl unpause failed");
  }
  if (ok) ok = Pump([this] { return targetFill_ > 0 || KeptBack() > 0; });
  read = static_cast<std::uint32_t>(targetFill_);
  target_ = nullptr;
  targetSize_ = targetFill_ = 0;
  if (!ok) return false;
  if (read == 0 && KeptBack() > 0) {  // the whole chunk was kept back: hand part of it now
    std::size_t n = std::min<std::size_t>(size, KeptBack());
    std::memcpy(out, kept_.data() + keptOffset_, n);
    keptOffset_ += n;
    read = static_cast<std::uint32_t>(n);
  }
  return true;
}

void CurlTransport::Cancel() {
  cancelled_.store(true);
  std::lock_guard<std::mutex> lock(handleMutex_);
  if (multi_) curl_multi_wakeup(multi_);
}

void CurlTransport::Close() {
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
