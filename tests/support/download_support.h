// Helpers for the download tests: the servers' body pattern, a recorder of
// progress reports, a clock the test moves, and a scripted transport for the
// arithmetic that a real server cannot pin down (bytes per report).
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/download_status.h"
#include "platform/clock.h"
#include "platform/http_transport.h"

namespace testing_support {

// Byte i of a served body: the little-endian 32-bit counter 0, 1, 2, ...
std::string CounterPattern(std::size_t size);

class ManualClock final : public platform::Clock {
 public:
  std::uint32_t TickCount() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void Set(std::uint32_t t) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = t;
  }

 private:
  std::mutex mutex_;
  std::uint32_t now_ = 0;
};

class ReportLog {
 public:
  download::ProgressCallback Callback();
  std::vector<download::ProgressReport> Reports();
  std::vector<std::int32_t> Statuses();
  // Waits until a report with this status arrived; false after ms.
  bool WaitForStatus(std::int32_t status, int ms);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<download::ProgressReport> reports_;
};

// A transport whose body the test feeds chunk by chunk. Calls block until
// the test has queued the next step.
class ScriptedTransport final : public platform::HttpTransport {
 public:
  struct Script {
    std::mutex mutex;
    std::condition_variable cv;
    int status = 200;
    std::int64_t contentLength = -1;
    std::deque<std::string> chunks;  // "" = end of body
    bool failNextQuery = false;
    bool cancelled = false;
    bool ignoreCancel = false;  // a transport stuck where a cancel cannot reach
    std::int64_t consumed = 0;  // body bytes handed out
    bool engineWaiting = false;  // the engine is blocked asking for more
    int readPermits = -1;       // reads allowed before the next Allow; -1 = no limit
    // The response's headers, looked up in any case by ResponseHeader.
    std::map<std::string, std::string> headers;
    // When set, Send i answers with headers of entry i (the last entry for
    // later Sends) instead.
    std::vector<std::map<std::string, std::string>> headersPerSend;
    // What LastFailure reports once something failed (Cancelled after a
    // cancel when left at None).
    platform::HttpFailure failure = platform::HttpFailure::None;
    int failSends = 0;  // the next this many Sends fail with `failure`
    // What the latest Send was asked for: its address and its header lines
    // (header, then moreHeaders), and how many Sends came.
    std::string sentUrl;
    std::vector<std::string> sentHeaders;
    int sends = 0;
    void AllowReads(int n);
    void Push(std::string chunk);
    void FailQuery();
    // Waits until the engine has taken and counted `bytes` body bytes in
    // total and is asking for more.
    bool WaitConsumed(std::int64_t bytes, int ms);
  };
  explicit ScriptedTransport(std::shared_ptr<Script> s) : s_(std::move(s)) {}

  bool Send(const platform::HttpGetRequest& request) override;
  int StatusCode() override { return s_->status; }
  std::int64_t ContentLength() override { return s_->contentLength; }
  bool QueryDataAvailable(std::uint32_t& avail) override;
  bool ReadData(void* buffer, std::uint32_t size, std::uint32_t& read) override;
  void Cancel() override;
  void Close() override {}
  std::string LastError() override { return {}; }
  platform::HttpFailure LastFailure() override;
  std::string ResponseHeader(std::string_view name) override;

 private:
  std::shared_ptr<Script> s_;
};

// Base port of the loopback servers of this build (see tests/servers).
int TestPortBase();

}  // namespace testing_support
