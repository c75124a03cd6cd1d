#include <curl/curl.h>

#include <mutex>

#include "platform/http_read.h"

namespace platform {
namespace {

struct Sink {
  Bytes out;
  std::size_t maxBytes;
  const std::atomic<bool>* cancel;
  bool failed = false;
};

size_t Append(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::size_t n = size * count;
  if ((sink->cancel && sink->cancel->load()) || n > sink->maxBytes - sink->out.size()) {
    sink->failed = true;
    return 0;  // ends the transfer
  }
  sink->out.insert(sink->out.end(), reinterpret_cast<std::uint8_t*>(data), reinterpret_cast<std::uint8_t*>(data) + n);
  return n;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* sink = static_cast<Sink*>(user);
  if (sink->cancel && sink->cancel->load()) {
    sink->failed = true;
    return 1;
  }
  return 0;
}

}  // namespace

Bytes HttpReadFile(const std::string& url, const HttpReadLimits& limits, const std::atomic<bool>* cancel) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (url.empty()) return {};
  CURL* curl = curl_easy_init();
  if (!curl) return {};
  Sink sink{{}, limits.maxBytes, cancel};
  curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");  // a direct connection, as on Windows
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.deadlineMs));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  CURLcode rc = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  // A request that breaks off keeps what arrived, as the single-request read
  // does; one cut off by a limit or a cancel has nothing worth showing.
  if (sink.failed || rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_FILESIZE_EXCEEDED) return {};
  return std::move(sink.out);
}

}  // namespace platform
