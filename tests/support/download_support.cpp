#include "support/download_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace testing_support {

std::string CounterPattern(std::size_t size) {
  std::string out(size + 4, '\0');
  for (std::size_t i = 0, n = 0; i < size; i += 4, ++n) {
    auto v = static_cast<std::uint32_t>(n);
    out[i] = static_cast<char>(v & 0xFF);
    out[i + 1] = static_cast<char>((v >> 8) & 0xFF);
    out[i + 2] = static_cast<char>((v >> 16) & 0xFF);
    out[i + 3] = static_cast<char>((v >> 24) & 0xFF);
  }
  out.resize(size);
  return out;
}

download::ProgressCallback ReportLog::Callback() {
  return [this](const download::ProgressReport& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(r);
    cv_.notify_all();
  };
}

std::vector<download::ProgressReport> ReportLog::Reports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::vector<std::int32_t> ReportLog::Statuses() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::int32_t> s;
  for (const auto& r : reports_) s.push_back(r.status);
  return s;
}

bool ReportLog::WaitForStatus(std::int32_t status, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    for (const auto& r : reports_)
      if (r.status == status) return true;
    return false;
  });
}

void ScriptedTransport::Script::Push(std::string chunk) {
  std::lock_guard<std::mutex> lock(mutex);
  chunks.push_back(std::move(chunk));
  cv.notify_all();
}

void ScriptedTransport::Script::FailQuery() {
  std::lock_guard<std::mutex> lock(mutex);
  failNextQuery = true;
  cv.notify_all();
}

void ScriptedTransport::Script::AllowReads(int n) {
  std::lock_guard<std::mutex> lock(mutex);
  readPermits = n;
  cv.notify_all();
}

bool ScriptedTransport::Script::WaitConsumed(std::int64_t bytes, int ms) {
  std::unique_lock<std::mutex> lock(mutex);
  return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return consumed >= bytes && engineWaiting; });
}

bool ScriptedTransport::Send(const platform::HttpGetRequest& request) {
  std::lock_guard<std::mutex> lock(s_->mutex);
  ++s_->sends;
  if (!s_->headersPerSend.empty())
    s_->headers = s_->headersPerSend[std::min<std::size_t>(s_->sends, s_->headersPerSend.size()) - 1];
  s_->sentUrl = request.url;
  s_->sentHeaders.clear();
  if (!request.header.empty()) s_->sentHeaders.push_back(request.header);
  for (const auto& line : request.moreHeaders) s_->sentHeaders.push_back(line);
  s_->cv.notify_all();
  if (s_->failSends > 0) {
    --s_->failSends;
    return false;
  }
  return true;
}

platform::HttpFailure ScriptedTransport::LastFailure() {
  std::lock_guard<std::mutex> lock(s_->mutex);
  if (s_->failure == platform::HttpFailure::None && s_->cancelled) return platform::HttpFailure::Cancelled;
  return s_->failure;
}

std::string ScriptedTransport::ResponseHeader(std::string_view name) {
  std::lock_guard<std::mutex> lock(s_->mutex);
  auto lower = [](std::string_view v) {
    std::string out(v);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
  };
  std::string want = lower(name);
  for (const auto& [k, v] : s_->headers)
    if (lower(k) == want) return v;
  // As a server sends it: the scripted length is a header too.
  if (want == "content-length" && s_->contentLength >= 0) return std::to_string(s_->contentLength);
  return {};
}

bool ScriptedTransport::QueryDataAvailable(std::uint32_t& avail) {
  std::unique_lock<std::mutex> lock(s_->mutex);
  s_->engineWaiting = true;
  s_->cv.notify_all();
  s_->cv.wait(lock, [&] { return s_->cancelled || s_->failNextQuery || !s_->chunks.empty(); });
  s_->engineWaiting = false;
  if (s_->cancelled || s_->failNextQuery) return false;
  avail = static_cast<std::uint32_t>(s_->chunks.front().size());
  return true;
}

bool ScriptedTransport::ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) {
  std::unique_lock<std::mutex> lock(s_->mutex);
  s_->cv.wait(lock, [&] { return s_->cancelled || s_->readPermits != 0; });
  if (s_->readPermits > 0) --s_->readPermits;
  if (s_->cancelled || s_->chunks.empty()) return false;
  std::string chunk = std::move(s_->chunks.front());
  s_->chunks.pop_front();
  read = static_cast<std::uint32_t>(std::min<std::size_t>(size, chunk.size()));
  std::memcpy(buffer, chunk.data(), read);
  s_->consumed += read;
  s_->cv.notify_all();
  return true;
}

void ScriptedTransport::Cancel() {
  std::lock_guard<std::mutex> lock(s_->mutex);
  if (s_->ignoreCancel) return;
  s_->cancelled = true;
  s_->cv.notify_all();
}

int TestPortBase() { return TARNWICK_TEST_PORT_BASE; }

}  // namespace testing_support
