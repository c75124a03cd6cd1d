// The build's transport on its own against the loopback nginx: a reader that
// falls behind, and a close while the body is still coming.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_transport.h"
#include "support/download_support.h"

namespace platform {
namespace {

constexpr std::size_t kBigSize = 8 * 1024 * 1024 + 123;  // tests/servers/start.sh

std::string BigUrl() {
  return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase()) + "/big.bin";
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
