// Pictures arrive from worker threads: a slow or dead host never holds the
// window, and only the selected version's background is shown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/http_read.h"
#include "support/panel_fixture.h"

namespace {
using testing_support::PanelFixture;
using ui::WindowId;
using Clock = std::chrono::steady_clock;

// A loopback HTTP/1.0 server: each path answers its body after its delay.
class PictureServer {
 public:
  struct Page {
    int delayMs;
    std::string body;
    int trickleMs = 0;  // > 0: the body goes out a byte at a time, this far apart
  };
  explicit PictureServer(std::map<std::string, Page> pages) : pages_(std::move(pages)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 16);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~PictureServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    acceptor_.join();
    for (auto& t : workers_) t.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void Accept() {
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      workers_.emplace_back([this, c] { Serve(c); });
    }
  }
  void Serve(int c) {
    std::string request;
    char buf[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    // A fetch cancelled before its request went out leaves nothing to answer.
    std::string path = request.size() > 4 ? request.substr(4, request.find(' ', 4) - 4) : std::string();
    auto it = pages_.find(path);
    std::string response;
    if (it != pages_.end()) {
      for (int waited = 0; waited < it->second.delayMs && !stop_; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      response = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(it->second.body.size()) + "\r\n\r\n" +
                 it->second.body;
    }
    if (it != pages_.end() && it->second.trickleMs > 0) {
      std::size_t head = response.size() - it->second.body.size();
      bool ok = ::send(c, response.data(), head, MSG_NOSIGNAL) > 0;
      for (std::size_t i = head; ok && i < response.size() && !stop_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(it->second.trickleMs));
        ok = ::send(c, response.data() + i, 1, MSG_NOSIGNAL) > 0;
      }
    } else if (!response.empty()) {
      ::send(c, response.data(), response.size(), MSG_NOSIGNAL);
    }
    ::close(c);
    ++served_;
  }

 public:
  int served() const { return served_.load(); }

 private:

  std::map<std::string, Page> pages_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> served_{0};
  std::thread acceptor_;
  std::vector<std::thread> workers_;  // touched by the acceptor only until the join
};

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

using Pictures = PanelFixture;

TEST_F(Pictures, SlowHostsNeverHoldTheWindow) {
  PictureServer server({{"/logo.png", {800, "LOGO"}}, {"/one.png", {800, "ONE"}}});
  config["LOGO素材地址编辑框"] = server.Url("/logo.png");
  config["版本1背景图编辑框"] = server.Url("/one.png");
  auto t0 = Clock::now();
  ASSERT_TRUE(Start());
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(400));
  EXPECT_TRUE(Main("LOGO图片框").picture.empty());
  // The window thread stays free meanwhile: clicks are handled at once.
  ASSERT_TRUE(Click("版本一按钮"));
  EXPECT_TRUE(backend.RunUntil(
      [&] { return !Main("LOGO图片框").picture.empty() && !Main("图片框Ex3").picture.empty(); }, 5000));
  EXPECT_EQ(Main("LOGO图片框").picture, Bytes("LOGO"));
  EXPECT_EQ(Main("图片框Ex3").picture, Bytes("ONE"));
}

TEST_F(Pictures, OnlyTheSelectedVersionsBackgroundIsShown) {
  PictureServer server({{"/one.png", {900, "ONE"}}, {"/two.png", {0, "TWO"}}, {"/four.png", {300, "FOUR"}}});
  config["版本1背景图编辑框"] = server.Url("/one.png");
  config["版本2背景图编辑框"] = server.Url("/two.png");
  config["版本4背景图编辑框"] = server.Url("/four.png");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("版本二按钮"));  // before version 1's picture arrives
  ASSERT_TRUE(backend.RunUntil([&] { return !Main("图片框Ex3").picture.empty(); }, 3000));
  EXPECT_EQ(Main("图片框Ex3").picture, Bytes("TWO"));
  // Version 1's late picture must not replace it.
  backend.RunUntil([] { return false; }, 1300);
  EXPECT_EQ(Main("图片框Ex3").picture, Bytes("TWO"));

  // A version without a background keeps the picture there is, and a picture
  // still under way for the version left is dropped.
  ASSERT_TRUE(Click("版本四按钮"));
  ASSERT_TRUE(Click("版本三按钮"));
  backend.RunUntil([] { return false; }, 700);
  EXPECT_EQ(Main("图片框Ex3").picture, Bytes("TWO"));
}

TEST(PictureFetch, TooLargeTooSlowOrCancelledFetchesGiveNothingAndEndInTime) {
  PictureServer server({{"/big.png", {0, std::string(3000, 'b')}},
                        {"/fits.png", {0, std::string(2000, 'f')}},
                        {"/trickle.png", {0, std::string(200, 't'), 20}}});
  platform::HttpReadLimits limits{2000, 1000};
  EXPECT_TRUE(platform::HttpReadFile(server.Url("/big.png"), limits).empty());
  EXPECT_EQ(platform::HttpReadFile(server.Url("/fits.png"), limits).size(), 2000u);

  auto t0 = Clock::now();
  EXPECT_TRUE(platform::HttpReadFile(server.Url("/trickle.png"), limits).empty());  // 4 s of body, 1 s allowed
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));

  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel = true;
  });
  t0 = Clock::now();
  EXPECT_TRUE(platform::HttpReadFile(server.Url("/trickle.png"), {}, &cancel).empty());
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
  canceller.join();
}

TEST_F(Pictures, OneFetchPerBoxAndTheNewestSelectionWins) {
  PictureServer server({{"/one.png", {600, "ONE"}}, {"/two.png", {600, "TWO"}}, {"/three.png", {600, "THREE"}},
                        {"/four.png", {600, "FOUR"}}});
  config["版本1背景图编辑框"] = server.Url("/one.png");
  config["版本2背景图编辑框"] = server.Url("/two.png");
  config["版本3背景图编辑框"] = server.Url("/three.png");
  config["版本4背景图编辑框"] = server.Url("/four.png");
  // Counts the box's fetching threads that run at the same time.
  auto running = std::make_shared<std::atomic<int>>(0);
  auto most = std::make_shared<std::atomic<int>>(0);
  auto starts = std::make_shared<std::atomic<int>>(0);
  launcher.backgroundFetcher().SetThreadStarter([running, most, starts](std::function<void()> body) {
    ++*starts;
    return app::PictureFetcher::StartDetachedThread([running, most, body = std::move(body)] {
      int now = ++*running;
      for (int seen = most->load(); now > seen && !most->compare_exchange_weak(seen, now);) {
      }
      body();
      --*running;
    });
  });
  ASSERT_TRUE(Start());
  for (int round = 0; round < 5; ++round)
    for (const char* b : {"版本二按钮", "版本三按钮", "版本四按钮"}) ASSERT_TRUE(Click(b));
  ASSERT_TRUE(backend.RunUntil([&] { return Main("图片框Ex3").picture == Bytes("FOUR"); }, 5000));
  EXPECT_GE(starts->load(), 1);
  EXPECT_EQ(most->load(), 1);
  EXPECT_LT(server.served(), 15);  // superseded addresses were never asked for
}

TEST_F(Pictures, AThreadThatCannotStartIsAFailedFetch) {
  PictureServer server({{"/two.png", {0, "TWO"}}});
  config["版本2背景图编辑框"] = server.Url("/two.png");
  ASSERT_TRUE(Start());
  launcher.backgroundFetcher().SetThreadStarter([](std::function<void()>) { return false; });
  ASSERT_TRUE(Click("版本二按钮"));
  backend.RunUntil([] { return false; }, 300);
  EXPECT_TRUE(Main("图片框Ex3").picture.empty());
  EXPECT_EQ(server.served(), 0);
  // The next selection tries again.
  launcher.backgroundFetcher().SetThreadStarter(&app::PictureFetcher::StartDetachedThread);
  ASSERT_TRUE(Click("版本一按钮"));
  ASSERT_TRUE(Click("版本二按钮"));
  EXPECT_TRUE(backend.RunUntil([&] { return Main("图片框Ex3").picture == Bytes("TWO"); }, 3000));
}

TEST_F(Pictures, DeadHostLeavesTheDesignPictures) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);  // a port with nobody listening
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/x.png";
  ::close(fd);
  config["LOGO素材地址编辑框"] = url;
  config["版本1背景图编辑框"] = url;
  ASSERT_TRUE(Start());
  backend.RunUntil([] { return false; }, 300);
  EXPECT_TRUE(Main("LOGO图片框").picture.empty());
  EXPECT_TRUE(Main("图片框Ex3").picture.empty());
}

TEST_F(Pictures, APictureArrivingAfterTheWindowClosedIsDropped) {
  PictureServer server({{"/logo.png", {300, "LOGO"}}});
  config["LOGO素材地址编辑框"] = server.Url("/logo.png");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("图片按钮Ex5"));
  Settle();
  ASSERT_FALSE(ui.AnyWindowOpen());
  for (int i = 0; i < 300 && server.served() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(server.served(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the fetch thread tries to post
  // The window thread takes no more work: the post was refused, nothing runs.
  EXPECT_EQ(ui.RunPosted(), 0u);
  EXPECT_FALSE(ui.dispatcher()->Post([] {}));
}

}  // namespace
