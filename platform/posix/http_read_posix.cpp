#include <curl/curl.h>

#include <mutex>

#include "platform/http_read.h"

namespace platform {
namespace {

size_t Append(char* data, size_t size, size_t count, void* user) {
  auto* out = static_cast<Bytes*>(user);
  out->insert(out->end(), reinterpret_cast<std::uint8_t*>(data), reinterpret_cast<std::uint8_t*>(data) + size * count);
  return size * count;
}

}  // namespace

Bytes HttpReadFile(const std::string& url) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Bytes out;
  if (url.empty()) return out;
  CURL* curl = curl_easy_init();
  if (!curl) return out;
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
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out);
  // A request that breaks off keeps what arrived, as the single-request read does.
  curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return out;
}

}  // namespace platform
