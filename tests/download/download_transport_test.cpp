// The build's transport on its own against the loopback servers: a reader
// that falls behind, a close while the body is still coming, the kind of
// each failure, ranges and the response headers a resuming download reads,
// and the header lines it sends.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_headers.h"
#include "platform/http_transport.h"
#include "support/download_support.h"

namespace platform {
namespace {

using testing_support::CounterPattern;

constexpr std::size_t kBigSize = 8 * 1024 * 1024 + 123;  // tests/servers/start.sh

std::string BigUrl() {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase()) + "/big.bin";
}
std::string Fault(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + path;
}
// Nothing listens here: the last port of this build's block.
std::string DeadPort() {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 9) + "/ok";
}

const char* Name(HttpFailure f) {
  switch (f) {
    case HttpFailure::None: return "None";
    case HttpFailure::Connect: return "Connect";
    case HttpFailure::Tls: return "Tls";
    case HttpFailure::Stall: return "Stall";
    case HttpFailure::Broken: return "Broken";
    case HttpFailure::Protocol: return "Protocol";
    case HttpFailure::Cancelled: return "Cancelled";
  }
  return "?";
}

struct Fetched {
  bool sent = false;
  bool ended = false;  // the body ended normally
  int status = 0;
  std::int64_t length = -1;
  std::string body;
  HttpFailure failure = HttpFailure::None;
  std::string error;
  int ms = 0;
};

// Sends, then reads until the end of the body or a failure (at most 64 MiB).
Fetched Fetch(HttpTransport& t, const HttpGetRequest& request) {
  Fetched f;
  auto t0 = std::chrono::steady_clock::now();
  f.sent = t.Send(request);
  if (f.sent) {
    f.status = t.StatusCode();
    f.length = t.ContentLength();
    std::vector<char> buffer;
    while (f.body.size() < (64u << 20)) {
      std::uint32_t avail = 0, read = 0;
      if (!t.QueryDataAvailable(avail)) break;
      if (avail == 0) {
        f.ended = true;
        break;
      }
      buffer.resize(avail);
      if (!t.ReadData(buffer.data(), avail, read)) break;
      if (read == 0) {
        f.ended = true;
        break;
      }
      f.body.append(buffer.data(), read);
    }
  }
  f.failure = t.LastFailure();
  f.error = t.LastError();
  f.ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
  return f;
}

Fetched Fetch(const std::string& url, int stallLimitMs = kDefaultStallLimitMs, std::string header = {},
              std::vector<std::string> more = {}) {
  auto t = CreateHttpTransport();
  HttpGetRequest request;
  request.url = url;
  request.stallLimitMs = stallLimitMs;
  request.header = std::move(header);
  request.moreHeaders = std::move(more);
  Fetched f = Fetch(*t, request);
  t->Close();
  return f;
}

TEST(DownloadTransport, ReaderSlowerThanTheStallLimitIsNotAStall) {
  auto t = CreateHttpTransport();
  HttpGetRequest request;
  request.url = BigUrl();
  request.stallLimitMs = 700;
  ASSERT_TRUE(t->Send(request)) << t->LastError();
  std::string body;
  std::vector<char> buffer;
  bool paused = false;
  while (true) {
    std::uint32_t avail = 0, read = 0;
    ASSERT_TRUE(t->QueryDataAvailable(avail)) << t->LastError() << " after " << body.size();
    if (avail == 0) break;
    buffer.resize(avail);
    ASSERT_TRUE(t->ReadData(buffer.data(), avail, read)) << t->LastError();
    ASSERT_LE(read, avail);
    if (read == 0) break;
    body.append(buffer.data(), read);
    if (!paused) {
      // The server has long filled what the transport holds back; it is the
      // reader that is silent, not the connection.
      paused = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
  }
  ASSERT_EQ(body.size(), kBigSize);
  EXPECT_TRUE(body == testing_support::CounterPattern(kBigSize)) << "content differs";
  t->Close();
}

TEST(DownloadTransport, CloseMidBodyReturnsPromptlyAndLaterCallsFail) {
  auto t = CreateHttpTransport();
  HttpGetRequest request;
  request.url = BigUrl();
  ASSERT_TRUE(t->Send(request)) << t->LastError();
  std::uint32_t avail = 0, read = 0;
  ASSERT_TRUE(t->QueryDataAvailable(avail));
  ASSERT_GT(avail, 0u);
  std::vector<char> buffer(avail);
  ASSERT_TRUE(t->ReadData(buffer.data(), avail, read));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the rest backs up behind the reader
  auto t0 = std::chrono::steady_clock::now();
  t->Close();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 2000);
  EXPECT_FALSE(t->QueryDataAvailable(avail));
  t->Cancel();  // a no-op after Close
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST(DownloadTransport, EachFailureHasItsKind) {
  struct Case {
    std::string url;
    HttpFailure want;
    bool sendFails;  // no response at all
    int stallLimitMs = kDefaultStallLimitMs;
    // What the OS may honestly report instead: this kind, with an error
    // ending in this code.
    HttpFailure orKind = HttpFailure::None;
    const char* orCode = nullptr;
  };
  const std::vector<Case> cases = {
      {Fault("/ok?size=70000"), HttpFailure::None, false},
      {Fault("/status/404"), HttpFailure::None, false},
      {Fault("/file?size=70000&cut=100"), HttpFailure::None, false},
      {DeadPort(), HttpFailure::Connect, true},
      // A reset before any response byte; WinHTTP may read it as the end of
      // the stream and report an invalid response instead.
      {Fault("/drop"), HttpFailure::Connect, true, kDefaultStallLimitMs, HttpFailure::Protocol, ": 12152"},
      {Fault("/reset?announce=100000&send=40000"), HttpFailure::Broken, false},
      {Fault("/file?size=100000&cut=50"), HttpFailure::Broken, false},
      {Fault("/short?announce=100000&send=40000"), HttpFailure::Broken, false},
      {Fault("/stall?send=20000"), HttpFailure::Stall, false, 1000},
      {Fault("/stall-headers"), HttpFailure::Stall, true, 1000},
      {Fault("/loop"), HttpFailure::Protocol, true},
      {"ftp://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + "/x", HttpFailure::Protocol,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    Fetched f = Fetch(c.url, c.stallLimitMs);
    const std::string code = c.orCode ? c.orCode : "";
    const bool alternative = c.orCode && f.failure == c.orKind && f.error.size() >= code.size() &&
                             f.error.compare(f.error.size() - code.size(), code.size(), code) == 0;
    if (!alternative) EXPECT_STREQ(Name(f.failure), Name(c.want)) << f.error;
    EXPECT_EQ(f.sent, !c.sendFails) << f.error;
    EXPECT_LT(f.ms, 15000);
    if (c.want == HttpFailure::None) {
      EXPECT_TRUE(f.ended);
      EXPECT_TRUE(f.error.empty()) << f.error;
      EXPECT_EQ(static_cast<std::int64_t>(f.body.size()), f.length);
    } else {
      EXPECT_FALSE(f.ended) << "a failure must not look like the end of the body";
      EXPECT_FALSE(f.error.empty());
    }
    if (c.want == HttpFailure::Stall) {
      EXPECT_GE(f.ms, 900);
    }
  }
}

TEST(DownloadTransport, CancelIsItsOwnKindInSendAndInTheBody) {
  for (const char* path : {"/stall-headers", "/stall?send=20000"}) {
    SCOPED_TRACE(path);
    auto t = CreateHttpTransport();
    HttpGetRequest request;
    request.url = Fault(path);  // default stall limit: only the cancel ends the wait
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      t->Cancel();
    });
    Fetched f = Fetch(*t, request);
    canceller.join();
    EXPECT_STREQ(Name(f.failure), "Cancelled") << f.error;
    EXPECT_FALSE(f.ended);
    EXPECT_LT(f.ms, 10000);
    std::uint32_t avail = 0;
    EXPECT_FALSE(t->QueryDataAvailable(avail));
    EXPECT_STREQ(Name(t->LastFailure()), "Cancelled") << "a later call keeps the first reason";
    t->Close();
  }
}

TEST(DownloadTransport, RangesAndTheFinalResponsesHeaders) {
  constexpr std::size_t kSize = 10000;
  const std::string lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";  // fault_server.py
  struct Case {
    std::string path;
    std::string header;
    std::vector<std::string> more;
    int status;
    std::size_t start;  // of the body within the file; npos: no file body
    std::string contentRange, etag, acceptRanges, retryAfter;
  };
  const std::size_t none = std::string::npos;
  const std::vector<Case> cases = {
      {"/file?size=10000&etag=v1", "Range:bytes=1234-", {"If-Range: \"v1\""}, 206, 1234,
       "bytes 1234-9999/10000", "\"v1\"", "bytes", ""},
      {"/file?size=10000&etag=v1", "Range:bytes=1234-", {"If-Range: " + lastModified}, 206, 1234,
       "bytes 1234-9999/10000", "\"v1\"", "bytes", ""},
      // The file changed: the whole of it, from the start.
      {"/file?size=10000&etag=v2", "Range:bytes=1234-", {"If-Range: \"v1\""}, 200, 0, "", "\"v2\"", "bytes", ""},
      {"/file?size=10000&etag=v1&ignorerange=1", "Range:bytes=1234-", {}, 200, 0, "", "\"v1\"", "", ""},
      {"/file?size=10000", "Range:bytes=10000-", {}, 416, none, "bytes */10000", "", "", ""},
      {"/file?size=10000&status=503&retryafter=7", "Range:bytes=0-", {}, 503, none, "", "", "", "7"},
      {"/file?size=10000&status=429&retryafter=120", "Range:bytes=0-", {}, 429, none, "", "", "", "120"},
      // The redirect's own ETag and Retry-After are not the final response's.
      {"/hop?size=10000&etag=v3", "Range:bytes=9000-", {}, 206, 9000, "bytes 9000-9999/10000", "\"v3\"", "bytes",
       ""},
  };
  const std::string file = CounterPattern(kSize);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.header + (c.more.empty() ? "" : " " + c.more[0]));
    auto t = CreateHttpTransport();
    HttpGetRequest request;
    request.url = Fault(c.path);
    request.header = c.header;
    request.moreHeaders = c.more;
    Fetched f = Fetch(*t, request);
    ASSERT_TRUE(f.sent) << f.error;
    EXPECT_TRUE(f.ended) << f.error;
    EXPECT_EQ(f.status, c.status);
    // Names in any case; the values trimmed.
    EXPECT_EQ(t->ResponseHeader("content-range"), c.contentRange);
    EXPECT_EQ(t->ResponseHeader("ETAG"), c.etag);
    EXPECT_EQ(t->ResponseHeader("Accept-Ranges"), c.acceptRanges);
    EXPECT_EQ(t->ResponseHeader("retry-after"), c.retryAfter);
    EXPECT_EQ(t->ResponseHeader("X-Hop"), "");
    EXPECT_EQ(t->ResponseHeader("X-Not-Sent"), "");
    if (c.start != none) {
      EXPECT_EQ(t->ResponseHeader("Last-Modified"), lastModified);
      EXPECT_EQ(f.length, static_cast<std::int64_t>(kSize - c.start));
      EXPECT_TRUE(f.body == file.substr(c.start)) << "body differs, " << f.body.size() << " bytes";
    }
    t->Close();
  }
}

TEST(DownloadTransport, SendsFurtherHeaderLinesAfterTheFirstAndRefusesLineBreaks) {
  Fetched f = Fetch(Fault("/echo-request"), kDefaultStallLimitMs, "Range:bytes=5-",
                    {"If-Range: \"abc\"", "X-Probe: one"});
  ASSERT_TRUE(f.ended) << f.error;
  std::size_t range = f.body.find("Range: bytes=5-\n");
  std::size_t ifRange = f.body.find("If-Range: \"abc\"\n");
  std::size_t probe = f.body.find("X-Probe: one\n");
  ASSERT_NE(range, std::string::npos) << f.body;
  ASSERT_NE(ifRange, std::string::npos) << f.body;
  ASSERT_NE(probe, std::string::npos) << f.body;
  EXPECT_LT(ifRange, probe) << f.body;

  for (const char* bad : {"X-Probe: a\r\nX-Injected: b", "X-Probe: a\nX-Injected: b"}) {
    Fetched refused = Fetch(Fault("/echo-request"), kDefaultStallLimitMs, "Range:bytes=0-", {bad});
    EXPECT_FALSE(refused.sent);
    EXPECT_STREQ(Name(refused.failure), "Protocol");
  }
}

TEST(DownloadTransport, FaultServerMisbehavesOnlyForTheFirstRequestsOfAKey) {
  ASSERT_TRUE(Fetch(Fault("/reset-counters")).ended);
  // One 503 with Retry-After, then two resets mid-body, then the whole file.
  const std::string url = Fault("/file?size=100000&key=transport-a&errors=1&status=503&retryafter=3&resets=2");
  Fetched busy = Fetch(url);
  EXPECT_EQ(busy.status, 503);
  for (int i = 0; i < 2; ++i) {
    Fetched cut = Fetch(url);
    EXPECT_EQ(cut.status, 200);
    EXPECT_STREQ(Name(cut.failure), "Broken") << cut.error;
    EXPECT_LE(cut.body.size(), 50000u);
  }
  Fetched whole = Fetch(url);
  EXPECT_TRUE(whole.ended) << whole.error;
  EXPECT_TRUE(whole.body == CounterPattern(100000)) << whole.body.size();
  EXPECT_EQ(Fetch(Fault("/count?key=transport-a")).body, "4");
  EXPECT_EQ(Fetch(Fault("/count?key=transport-b")).body, "0");
  ASSERT_TRUE(Fetch(Fault("/reset-counters")).ended);
  EXPECT_EQ(Fetch(Fault("/count?key=transport-a")).body, "0");
}

TEST(DownloadTransport, HeaderBlockLookup) {
  HttpHeaderBlock block;
  block.AddBlock("HTTP/1.1 206 Partial Content\r\nETag:  \"v1\" \r\nContent-Range:bytes 1-2/3\r\n"
                 "etag: \"second\"\r\nX-Empty:\r\nno colon here\r\n folded: line\r\n\r\n");
  EXPECT_EQ(block.Get("ETag"), "\"v1\"");  // the first of two, trimmed
  EXPECT_EQ(block.Get("content-range"), "bytes 1-2/3");
  EXPECT_EQ(block.Get("X-Empty"), "");
  EXPECT_EQ(block.Get("folded"), "");
  EXPECT_EQ(block.Get("HTTP/1.1 206 Partial Content"), "");
  block.Clear();
  block.AddLine("Retry-After: 7\n");
  EXPECT_EQ(block.Get("ETag"), "");
  EXPECT_EQ(block.Get("RETRY-AFTER"), "7");
  EXPECT_TRUE(IsSingleHeaderLine("If-Range: \"abc\""));
  EXPECT_FALSE(IsSingleHeaderLine("A: b\r\nC: d"));
  EXPECT_FALSE(IsSingleHeaderLine("A: b\nC: d"));
  EXPECT_FALSE(IsSingleHeaderLine(std::string("A: b\0", 5)));
}

}  // namespace
}  // namespace platform
