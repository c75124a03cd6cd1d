// The install job end to end on the headless window: real downloads from the
// loopback test servers (nginx and the fault server, started around the test
// run) and from a paced server inside the test for what needs time to pass
// (progress lines while both files are still coming).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "download/resume_state.h"
#include "install/install_job.h"
#include "install/progress_display.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "support/download_support.h"
#include "support/panel_fixture.h"
#include "support/temp_dir.h"
#include "ui/main_controls.h"

namespace {

// A tiny HTTP/1.1 server: one route table, bodies sent at a fixed pace.
class PacedServer {
 public:
  struct Route {
    int status = 200;
    std::string body;
    bool announce = true;     // send Content-Length
    int bytesPerSecond = 0;   // 0: all at once
  };

  PacedServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~PacedServer() {
    stop_ = true;
    acceptor_.join();
    close(fd_);
    std::vector<std::thread> conns;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      conns.swap(conns_);
    }
    for (auto& t : conns) t.join();
  }
  void Set(const std::string& path, Route r) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(r);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void AcceptLoop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      conns_.emplace_back([this, c] { Serve(c); });
    }
  }
  bool SendAll(int c, const char* p, std::size_t n) {
    while (n > 0) {
      ssize_t w = send(c, p, n, MSG_NOSIGNAL);
      if (w <= 0) return false;
      p += w;
      n -= static_cast<std::size_t>(w);
    }
    return true;
  }
  void Serve(int c) {
    std::string req;
    char buf[2048];
    while (req.find("\r\n\r\n") == std::string::npos && !stop_) {
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      req.append(buf, static_cast<std::size_t>(n));
    }
    std::string path = req.substr(4, req.find(' ', 4) - 4);
    Route r;
    bool found;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = routes_.find(path);
      found = it != routes_.end();
      if (found) r = it->second;
    }
    if (!found) r = Route{404, "", true, 0};
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " X\r\n";
    if (r.announce) head += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (SendAll(c, head.data(), head.size())) {
      std::size_t step = r.bytesPerSecond > 0 ? std::max(1, r.bytesPerSecond / 20) : r.body.size();
      for (std::size_t off = 0; off < r.body.size() && !stop_; off += step) {
        if (!SendAll(c, r.body.data() + off, std::min(step, r.body.size() - off))) break;
        if (r.bytesPerSecond > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    shutdown(c, SHUT_WR);
    close(c);
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::map<std::string, Route> routes_;
  std::vector<std::thread> conns_;
};

std::string Pattern(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7 % 251);
  return s;
}

class InstallJobTest : public testing_support::PanelFixture {
 protected:
  void SetUp() override {
    PanelFixture::SetUp();
    launcher.SetInstallHandler([this](const std::string& name) { job->InstallVersion(name); });
  }
  void TearDown() override {
    job.reset();  // before the window and the launcher go
    PanelFixture::TearDown();
  }
  static std::string Nginx(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase()) + path;
  }
  static std::string Fault(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + path;
  }
  void SetSlot(int slot, const std::string& dataUrl, const std::string& programUrl) {
    static const char* kNum[] = {"一", "二", "三", "四"};
    config[std::string("版本") + kNum[slot - 1] + "登录器下载dat"] = dataUrl;
    config[std::string("版本") + kNum[slot - 1] + "登录器下载exe"] = programUrl;
  }
  // Runs posted work until the job is back to idle, sampling the line.
  bool RunJob(int ms = 20000) {
    return backend.RunUntil(
        [this] {
          Sample();
          return job->phase() == install::InstallJob::Phase::Idle;
        },
        ms);
  }
  void Sample() {
    const std::string& line = Main(ui::kProgressLine).text;
    if (lines.empty() || lines.back() != line) lines.push_back(line);
    if (line.starts_with("已下载: ")) {
      // Bar and line come from the same moment.
      const std::int64_t expected = std::min<std::int64_t>(
          10000, static_cast<std::int64_t>(static_cast<double>(job->state().sumDone) * 10000.0 / 83886080.0));
      EXPECT_EQ(Main(ui::kProgressBar).position, expected) << line;
    }
    if (line.starts_with("总进度: ")) {
      std::smatch m;
      static const std::regex pct("^总进度: ([0-9]+)% \\| ");
      ASSERT_TRUE(std::regex_search(line, m, pct)) << line;
      percents.push_back(std::stoll(m[1]));
      bars.push_back(Main(ui::kProgressBar).position);
    }
  }
  bool AllInstallControlsDisabled(bool disabled) const {
    for (const char* n : {"安装游戏按钮_Ravik", "安装游戏按钮_Solen", "安装游戏按钮_Nuvik", "安装游戏按钮_Tavor",
                          "版本一按钮", "版本二按钮", "版本三按钮", "版本四按钮"})
      if (Main(n).disabled != disabled) return false;
    return true;
  }
  void ExpectFailureShown() {
    EXPECT_TRUE(Main(ui::kProgressLine).text.starts_with(install::kTextFailed)) << Main(ui::kProgressLine).text;
    EXPECT_TRUE(Visible(ui::kProgressLine));
    EXPECT_TRUE(Visible(ui::kProgressBar));
    EXPECT_EQ(Main(ui::kProgressBar).position, 0);
    EXPECT_TRUE(Visible("安装游戏按钮_Ravik"));
    EXPECT_FALSE(Visible("开始游戏按钮_Ravik"));
    EXPECT_FALSE(Visible("公告标签1"));
    EXPECT_NE(Main(ui::kServerLabel).text, install::kTextInstalled);
    EXPECT_TRUE(AllInstallControlsDisabled(false));
    EXPECT_EQ(launcher.versions().InstalledName(1), "");
    EXPECT_EQ(ui.Taskbar(ui::WindowId::Main).state, ui::TaskbarState::Error);
  }
  void ExpectInstalled(int slot) {
    const auto& c = ui::ControlsOfSlot(slot);
    EXPECT_EQ(Main(ui::kServerLabel).text, install::kTextInstalled);
    EXPECT_TRUE(Visible(c.startButton));
    EXPECT_FALSE(Visible(c.installButton));
    EXPECT_FALSE(Visible(ui::kProgressBar));
    EXPECT_FALSE(Visible(ui::kProgressLine));
    EXPECT_EQ(Main(ui::kProgressBar).position, 10000);
    for (const char* l : {"公告标签1", "公告标签2", "公告标签3"}) EXPECT_TRUE(Visible(l)) << l;
    EXPECT_TRUE(AllInstallControlsDisabled(false));
    EXPECT_EQ(launcher.versions().InstalledName(slot), launcher.versions().Slot(slot).displayName);
    EXPECT_EQ(ui.Taskbar(ui::WindowId::Main).state, ui::TaskbarState::None);
  }

  // The operator changes a slot's configuration while the launcher runs.
  template <class Change>
  void EditSlot(int n, Change change) {
    config::VersionSlot slot = launcher.versions().Slot(n);
    change(slot);
    launcher.versions().SetSlot(n, std::move(slot));
  }

  // One attempt per file unless a case asks for retries.
  std::unique_ptr<install::InstallJob> job = [this] {
    auto j = std::make_unique<install::InstallJob>(ui, launcher.versions());
    j->SetRetryPolicy(1, 0);
    return j;
  }();
  PacedServer paced;
  std::vector<std::string> lines;
  std::vector<std::int64_t> percents, bars;
};

TEST_F(InstallJobTest, BothFilesArriveAndTheVersionTurnsInstalled) {
  SetSlot(1, Nginx("/big.bin"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  // Until the window thread runs the engine's reports nothing can end.
  EXPECT_TRUE(AllInstallControlsDisabled(true));
  EXPECT_FALSE(Main("开始游戏按钮_Solen").disabled);
  EXPECT_FALSE(Main("网站主页图片按钮").disabled);
  EXPECT_FALSE(Click("安装游戏按钮_Solen"));
  EXPECT_FALSE(Click("版本二按钮"));
  EXPECT_FALSE(Visible("公告标签2"));
  EXPECT_EQ(Main(ui::kProgressBar).maximum, 10000);
  ASSERT_TRUE(RunJob());
  ExpectInstalled(1);
  EXPECT_EQ(launcher.versions().SelectedName(), "Ravik 经典版");
  EXPECT_EQ(ReadText(Path("Ravik\\big.bin")), testing_support::CounterPattern(8 * 1024 * 1024 + 123));
  EXPECT_EQ(ReadText(Path("Ravik\\small.bin")), testing_support::CounterPattern(5000));
  EXPECT_TRUE(job->registry().WaitUntilEmpty(2000));
}

// Two files of 20 MiB that both come in ranges: the connections of the
// install stay within the configured number (one per file at the least).
TEST_F(InstallJobTest, BothFilesShareTheConfiguredConnections) {
  const std::int64_t size = 20 << 20;
  struct Row {
    int slot, connections;
    const char *versionButton, *installButton;
  };
  const Row rows[] = {{1, 4, "版本一按钮", "安装游戏按钮_Ravik"}, {2, 1, "版本二按钮", "安装游戏按钮_Solen"}};
  const std::string key = "install-budget-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  for (const Row& r : rows) {
    // The file name is what follows the last "/", here inside the query.
    const std::string query = "slow=all&slowrate=30000000&size=" + std::to_string(size) + "&key=" + key +
                              std::to_string(r.slot);
    SetSlot(r.slot, Fault("/file?etag=d&" + query + "&name=/data.dat"), Fault("/file?etag=p&" + query + "&name=/Game.exe"));
  }
  ASSERT_TRUE(Start());
  for (const Row& r : rows) {
    SCOPED_TRACE(r.connections);
    job->SetDownloadConnections(r.connections);
    ASSERT_TRUE(Click(r.versionButton));
    ASSERT_TRUE(Click(r.installButton));
    ASSERT_TRUE(RunJob(60000));
    ExpectInstalled(r.slot);
    const std::string whole = testing_support::CounterPattern(static_cast<std::size_t>(size));
    EXPECT_TRUE(ReadText(launcher.versions().Paths(r.slot).dataPath) == whole);
    EXPECT_TRUE(ReadText(launcher.versions().Paths(r.slot).programPath) == whole);
    ASSERT_TRUE(job->budget());
    EXPECT_EQ(job->budget()->limit(), r.connections);
    EXPECT_LE(job->budget()->peak(), std::max(r.connections, 2));
    if (r.connections == 4) {
      EXPECT_GE(job->budget()->peak(), 3);
    }
    EXPECT_TRUE(job->registry().WaitUntilEmpty(2000));
  }
}

TEST_F(InstallJobTest, ProgressLinesWhileBothFilesComeThenSuccess) {
  paced.Set("/ravik.dat", {200, Pattern(600000, 'a'), true, 400000});
  paced.Set("/RavikGame.exe", {200, Pattern(30000, 'b'), true, 0});
  SetSlot(1, paced.Url("/ravik.dat"), paced.Url("/RavikGame.exe"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  EXPECT_EQ(Main(ui::kProgressLine).text, install::kTextConnecting);
  ASSERT_TRUE(RunJob());
  ExpectInstalled(1);
  ASSERT_FALSE(percents.empty()) << "no progress line seen";
  for (std::size_t i = 0; i < percents.size(); ++i) {
    EXPECT_LE(percents[i], 100);
    EXPECT_EQ(bars[i] / 100, percents[i]);  // both truncated from the same sums
  }
  bool finishedLine = false;
  for (const auto& l : lines) finishedLine |= l == "文件2 完成!" || l == "文件1 完成!";
  EXPECT_TRUE(finishedLine);
  EXPECT_EQ(ReadText(Path("Ravik\\ravik.dat")), Pattern(600000, 'a'));
}

TEST_F(InstallJobTest, NoSizeAnnouncedFillsTheBarAgainstEightyMiB) {
  paced.Set("/ravik.dat", {200, Pattern(600000, 'c'), false, 400000});
  paced.Set("/RavikGame.exe", {200, Pattern(20000, 'd'), false, 0});
  SetSlot(1, paced.Url("/ravik.dat"), paced.Url("/RavikGame.exe"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  bool seen = false;
  for (const auto& l : lines) seen |= l.starts_with("已下载: ");
  EXPECT_TRUE(seen);
  EXPECT_TRUE(percents.empty());
  ExpectInstalled(1);  // no size is no failure
}

TEST_F(InstallJobTest, OneSizeAnnouncedLetsThePercentagePassHundred) {
  paced.Set("/ravik.dat", {200, Pattern(20000, 'e'), true, 0});
  paced.Set("/RavikGame.exe", {200, Pattern(600000, 'f'), false, 400000});
  SetSlot(1, paced.Url("/ravik.dat"), paced.Url("/RavikGame.exe"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  bool over = false;
  for (std::size_t i = 0; i < percents.size(); ++i) {
    if (percents[i] > 100) {
      over = true;
      EXPECT_EQ(bars[i], 10000);
    }
  }
  EXPECT_TRUE(over);
  ExpectInstalled(1);
}

TEST_F(InstallJobTest, MissingFileFailsAndPressingAgainStartsOver) {
  SetSlot(1, Nginx("/missing.dat"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  ExpectFailureShown();
  // The line says which file and why.
  EXPECT_EQ(Main(ui::kProgressLine).text, "下载失败，请重试！（文件1：服务器返回 404）");
  // The program file came whole, but stays unpublished while its data file is
  // missing: the start-up scan would take the folder for installed.
  EXPECT_FALSE(platform::FileExists(Path("Ravik\\small.bin")));
  EXPECT_TRUE(platform::FileExists(Path("Ravik\\small.bin.part")));

  // The operator fixes the address; the player presses again.
  EditSlot(1, [&](config::VersionSlot& v) { v.dataDownloadUrl = Nginx("/big.bin"); });
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  EXPECT_EQ(Main(ui::kProgressLine).text, install::kTextConnecting);
  EXPECT_EQ(Main(ui::kProgressBar).position, 0);
  EXPECT_EQ(job->state().sumDone, 0);
  EXPECT_EQ(job->state().dataFinished, 0);
  ASSERT_TRUE(RunJob());
  ExpectInstalled(1);
}

TEST_F(InstallJobTest, StatedSizesHashesAndSpareAddressesReachTheEngine) {
  // The program's main host answers 404; its spare one serves it. The data
  // file's stated hash is not what the server sends.
  SetSlot(1, Nginx("/big.bin"), Nginx("/game.exe"));
  config["版本一登录器下载exe镜像"] = Nginx("/gone.exe") + "|" + Nginx("/small.bin");
  config["版本一登录器下载exe大小"] = "5000";
  config["版本一登录器下载dat校验"] = std::string(64, 'A');
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  ExpectFailureShown();
  EXPECT_EQ(Main(ui::kProgressLine).text, "下载失败，请重试！（文件1：校验失败）");
  // The wrong data is gone; the program came whole from the spare host,
  // under the name of its main address.
  EXPECT_FALSE(platform::FileExists(Path("Ravik\\big.bin.part")));
  EXPECT_EQ(ReadText(Path("Ravik\\game.exe.part")), testing_support::CounterPattern(5000));

  // The right hash, and a size the server does not announce: 大小不符.
  EditSlot(1, [&](config::VersionSlot& v) {
    v.dataIntegrity.sha256.reset();
    v.programIntegrity.size = 5001;
  });
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  EXPECT_EQ(Main(ui::kProgressLine).text, "下载失败，请重试！（文件2：大小不符）");
  EditSlot(1, [&](config::VersionSlot& v) { v.programIntegrity.size = 5000; });
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  ExpectInstalled(1);
  EXPECT_EQ(ReadText(Path("Ravik\\game.exe")), testing_support::CounterPattern(5000));
}

std::string HexOf(const std::string& bytes) {
  platform::Sha256 h;
  h.Update(bytes);
  platform::Sha256Digest d{};
  EXPECT_TRUE(h.Final(d));
  return platform::DigestToHex(d);
}

// A hash pass outlasts several ticks: its line stays through the Progress
// reports of both files, and goes at the file's end, its retry, or when its
// bytes move again (fetched once more after a wrong hash).
TEST_F(InstallJobTest, VerifyingLineStaysUntilTheCheckEnds) {
  ASSERT_TRUE(Start());
  constexpr std::int32_t kData = install::kDataTaskId, kProgram = install::kProgramTaskId;
  struct Step {
    std::int32_t file, status;
    std::int64_t done;
    const char* line;  // nullptr: a progress line
  };
  const std::vector<std::vector<Step>> rows = {
      // the same file's ticks, then the other file's, then the end
      {{kData, download::kVerifying, 1000, "文件1 校验中..."},
       {kData, download::kProgress, 1000, "文件1 校验中..."}, {kProgram, download::kProgress, 500, "文件1 校验中..."},
       {kData, download::kProgress, 1000, "文件1 校验中..."}, {kData, download::kFinished, 1000, "文件1 完成!"},
       {kProgram, download::kProgress, 700, nullptr}},
      // a wrong hash: the file comes again from its first byte
      {{kData, download::kVerifying, 1000, "文件1 校验中..."}, {kData, download::kProgress, 0, nullptr}},
      // a failed check ends it too: the end then tells why
      {{kData, download::kVerifying, 1000, "文件1 校验中..."}, {kData, download::kFailed, 1000, "文件1 校验中..."},
       {kProgram, download::kProgress, 1000, nullptr}},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    job = std::make_unique<install::InstallJob>(ui, launcher.versions());
    for (std::int32_t file : {kData, kProgram})
      job->OnInstallProgress({.userData = file, .status = download::kStarted, .total = 2000});
    for (std::size_t k = 0; k < rows[i].size(); ++k) {
      const Step& s = rows[i][k];
      SCOPED_TRACE("row " + std::to_string(i) + " step " + std::to_string(k));
      job->OnInstallProgress({.userData = s.file, .status = s.status, .total = 2000, .done = s.done});
      const std::string& line = Main(ui::kProgressLine).text;
      if (s.line) {
        EXPECT_EQ(line, s.line);
      } else {
        EXPECT_TRUE(line.starts_with("总进度: ")) << line;
      }
    }
  }
}

// A file already there under its final name as the operator states it (size,
// and hash when stated) is not fetched again: here its address would fail.
// Without stated keys, or when a stated key does not match, it is fetched.
TEST_F(InstallJobTest, FilesAlreadyThereAsStatedAreNotFetchedAgain) {
  const std::string data = testing_support::CounterPattern(300000);
  const std::string hash = HexOf(data), otherHash = HexOf(data + "x");
  struct Row {
    const char *size, *sha;  // nullptr: not stated
    std::size_t onDisk;      // bytes of the data file already there
    bool fetched;
  };
  const Row rows[] = {
      {"300000", hash.c_str(), 300000, false}, {"300000", nullptr, 300000, false},
      {nullptr, hash.c_str(), 300000, false},  {nullptr, nullptr, 300000, true},
      {"300000", otherHash.c_str(), 300000, true}, {"299999", nullptr, 300000, true},
      {"300000", hash.c_str(), 0, true},
  };
  SetSlot(1, Nginx("/missing.dat"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  const std::string dataPath = launcher.versions().Paths(1).dataPath;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.size ? r.size : "-") + " " + (r.sha ? r.sha : "-") + " " + std::to_string(r.onDisk));
    EditSlot(1, [&](config::VersionSlot& v) {
      v.dataIntegrity.size.reset(), v.dataIntegrity.sha256.reset();
      if (r.size) v.dataIntegrity.size = std::stoull(r.size);
      if (r.sha) v.dataIntegrity.sha256 = platform::DigestFromHex(r.sha);
    });
    (void)platform::DeleteFileAt(dataPath);
    (void)platform::DeleteFileAt(launcher.versions().Paths(1).programPath);
    (void)platform::CreateFolder(Path("Ravik"));
    if (r.onDisk) WriteText(dataPath, data.substr(0, r.onDisk));
    // Pressed again as after a failure, whatever the row before left.
    launcher.versions().MarkNotInstalled(1);
    job->InstallVersion(launcher.versions().Slot(1).displayName);
    ASSERT_TRUE(RunJob());
    if (r.fetched) {
      EXPECT_EQ(Main(ui::kProgressLine).text, "下载失败，请重试！（文件1：服务器返回 404）");
    } else {
      ExpectInstalled(1);
      EXPECT_EQ(ReadText(dataPath), data);
      EXPECT_EQ(ReadText(launcher.versions().Paths(1).programPath), testing_support::CounterPattern(5000));
      EXPECT_FALSE(platform::FileExists(dataPath + ".part"));
    }
    EXPECT_TRUE(job->registry().WaitUntilEmpty(2000));
  }
}

// The free space is checked for both files together, before the first byte
// when the operator states both sizes, else when both servers have announced
// theirs. A kept part counts for what its resume state says it keeps.
TEST_F(InstallJobTest, FreeSpaceIsCheckedForBothFilesTogether) {
  const std::int64_t big = 8 * 1024 * 1024 + 123, small = 5000, margin = 16 << 20;
  const std::int64_t kept = 4 << 20;
  struct Row {
    const char* what;
    bool stated;       // both sizes in the configuration
    int keptState;     // 0: no part, 1: a part with a state, 2: the same part without its state
    std::int64_t free;
    const char* failure;  // nullptr: installs
  };
  const Row rows[] = {
      {"stated, fits", true, 0, big + small + margin, nullptr},
      {"stated, each fits alone", true, 0, big + small + margin - 1, "下载失败，请重试！（文件2：磁盘空间不足，还需 1 MB）"},
      {"announced, fits", false, 0, big + small + margin, nullptr},
      {"announced, each fits alone", false, 0, big + margin, "磁盘空间不足"},
      {"kept part credited", true, 1, big - kept + small + margin, nullptr},
      {"part without state earns nothing", true, 2, big - kept + small + margin, "磁盘空间不足"},
  };
  SetSlot(1, Nginx("/big.bin"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  const std::string dataPath = launcher.versions().Paths(1).dataPath;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EditSlot(1, [&](config::VersionSlot& v) {
      v.dataIntegrity.size.reset(), v.programIntegrity.size.reset();
      if (r.stated) v.dataIntegrity.size = big, v.programIntegrity.size = small;
    });
    for (const std::string& p : {dataPath, launcher.versions().Paths(1).programPath}) {
      (void)platform::DeleteFileAt(p);
      (void)platform::DeleteFileAt(p + ".part");
      (void)platform::DeleteFileAt(download::ResumeStatePath(p + ".part"));
    }
    (void)platform::CreateFolder(Path("Ravik"));
    if (r.keptState) {
      // Another server's bytes: the engine starts over, which the real disk allows.
      WriteText(dataPath + ".part", std::string(static_cast<std::size_t>(kept), 'k'));
      if (r.keptState == 1) {
        download::ResumeState state{Nginx("/big.bin"), "\"other\"", big, {{0, kept}}};
        ASSERT_TRUE(download::WriteResumeState(download::ResumeStatePath(dataPath + ".part"), state));
      }
    }
    std::vector<std::string> asked;
    job->SetFreeSpaceSource([&](const std::string& folder) -> std::optional<std::int64_t> {
      asked.push_back(folder);
      return r.free;
    });
    launcher.versions().MarkNotInstalled(1);
    job->InstallVersion(launcher.versions().Slot(1).displayName);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(asked, std::vector<std::string>{launcher.versions().Paths(1).folder});
    if (!r.failure) {
      ExpectInstalled(1);
      EXPECT_EQ(ReadText(dataPath), testing_support::CounterPattern(static_cast<std::size_t>(big)));
    } else {
      EXPECT_EQ(launcher.versions().InstalledName(1), "");
      EXPECT_FALSE(platform::FileExists(dataPath));
      EXPECT_NE(Main(ui::kProgressLine).text.find(r.failure), std::string::npos) << Main(ui::kProgressLine).text;
      if (r.stated) {
        // Before the first byte: nothing was asked of the servers.
        EXPECT_EQ(job->state().sumDone, 0);
        EXPECT_EQ(job->registry().Count(), 0u);
      }
    }
    EXPECT_TRUE(job->registry().WaitUntilEmpty(5000));
  }
}

TEST(InstallKeptPart, CreditIsWhatTheStateListsAndThePartHolds) {
  testing_support::TempDir dir;
  const std::string file = dir.path() + "\\f.bin", part = file + ".part";
  struct Row {
    std::size_t partBytes;  // 0: no part
    std::vector<download::ByteRange> done;
    bool state;
    std::int64_t credit;
  };
  const Row rows[] = {
      {0, {}, false, 0},
      {5000, {}, false, 0},                            // cut by the next attempt
      {5000, {{0, 1000}}, true, 1000},                 // gaps past the listed bytes are not kept
      {5000, {{0, 1000}, {3000, 4500}}, true, 2500},   // ranges
      {2000, {{0, 4000}}, true, 2000},                 // the state lists more than the part holds
      {0, {{0, 4000}}, true, 0},                       // a state without its part
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.credit);
    (void)platform::DeleteFileAt(part);
    (void)platform::DeleteFileAt(download::ResumeStatePath(part));
    if (r.partBytes) {
      ASSERT_TRUE(platform::WriteFileBytes(part, platform::Bytes(r.partBytes, 1)));
    }
    if (r.state) {
      ASSERT_TRUE(download::WriteResumeState(download::ResumeStatePath(part), {"http://127.0.0.1/f.bin", "\"e\"", 5000, r.done}));
    }
    EXPECT_EQ(install::KeptPartBytes(file), r.credit);
  }
}

TEST_F(InstallJobTest, EmptyBodyFails) {
  SetSlot(1, Nginx("/big.bin"), Fault("/empty"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  ExpectFailureShown();
}

TEST_F(InstallJobTest, FileCutShortAfterSomeBytesIsAFailure) {
  // 40000 of 100000 announced bytes: bytes arrived, but the file is broken.
  SetSlot(1, Fault("/short"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob());
  EXPECT_GT(job->state().dataDone, 0);
  ExpectFailureShown();
}

TEST_F(InstallJobTest, EmptyAddressFailsInsteadOfWaitingForEver) {
  SetSlot(1, Nginx("/big.bin"), "");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  ASSERT_TRUE(RunJob(10000));
  ExpectFailureShown();
  EditSlot(2, [](config::VersionSlot& v) { v.dataDownloadUrl.clear(), v.programDownloadUrl.clear(); });
  ASSERT_TRUE(Click("版本二按钮"));
  ASSERT_TRUE(Click("安装游戏按钮_Solen"));
  // Nothing to wait for: over at once.
  EXPECT_EQ(job->phase(), install::InstallJob::Phase::Idle);
  EXPECT_TRUE(Main(ui::kProgressLine).text.starts_with(install::kTextFailed)) << Main(ui::kProgressLine).text;
  EXPECT_TRUE(AllInstallControlsDisabled(false));
}

TEST_F(InstallJobTest, DuplicateNamesInstallTheFirstSlotInLookupOrder) {
  config["版本二名称编辑框"] = "同名版";
  config["版本三名称编辑框"] = "同名版";
  config["版本四名称编辑框"] = "同名版";
  for (int s = 1; s <= 4; ++s) SetSlot(s, Nginx("/small.bin"), Nginx("/small.bin?v=" + std::to_string(s)));
  SetSlot(2, Nginx("/small.bin"), Nginx("/Solen.bin"));  // not served: makes slot 2 fail visibly
  SetSlot(4, Nginx("/small.bin"), Nginx("/big.bin"));
  ASSERT_TRUE(Start());
  // Slot 3's button looks up by name: slot 2 comes first (1, 2, 4, 3). The
  // window shows slot 2's button for that name, so the command is sent as
  // the Tavor button sends it.
  launcher.Execute(app::Command::InstallVersion, 3, 0);
  ASSERT_TRUE(RunJob());
  EXPECT_EQ(job->state().programUrl, Nginx("/Solen.bin"));
  EXPECT_TRUE(Main(ui::kProgressLine).text.starts_with(install::kTextFailed)) << Main(ui::kProgressLine).text;

  // With slot 2 renamed, slot 4 comes before slot 3.
  EditSlot(2, [](config::VersionSlot& v) { v.displayName = "另一个"; });
  launcher.Execute(app::Command::InstallVersion, 3, 0);
  ASSERT_TRUE(RunJob());
  EXPECT_EQ(job->state().programFilePath, Path("Nuvik\\big.bin"));
  EXPECT_TRUE(platform::FileExists(Path("Nuvik\\big.bin")));
  EXPECT_FALSE(platform::FileExists(Path("Tavor\\big.bin")));
  EXPECT_TRUE(Visible("开始游戏按钮_Nuvik"));
  EXPECT_FALSE(Visible("安装游戏按钮_Nuvik"));
  EXPECT_FALSE(Visible("开始游戏按钮_Tavor"));
  EXPECT_EQ(launcher.versions().InstalledName(4), "同名版");
  EXPECT_EQ(launcher.versions().InstalledName(3), "");
}

TEST_F(InstallJobTest, UnsafeFolderNameIsTreatedAsUnconfigured) {
  for (const char* folder : {"..\\evil", "C:\\Games", "a/b", "x\tz", ""}) {
    config["创建版本文件夹名称编辑框1"] = folder;
    messages.clear();
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Click("安装游戏按钮_Ravik")) << folder;
    ASSERT_EQ(messages.size(), 1u) << folder;
    EXPECT_EQ(messages[0].text, install::kTextNoFolder);
    EXPECT_EQ(messages[0].caption, "错误");
    EXPECT_EQ(messages[0].flags, 0);
    EXPECT_TRUE(AllInstallControlsDisabled(false));
    EXPECT_EQ(job->phase(), install::InstallJob::Phase::Idle);
    EXPECT_FALSE(Visible("公告标签1"));
    ui.CloseWindow(ui::WindowId::Main);
    Settle();
  }
  // (The start-up scan builds its folders itself.)
  EXPECT_FALSE(platform::FileExists(Path("..\\evil\\big.bin")));
  testing_support::RemoveTree(Path("..\\evil"));
}

TEST_F(InstallJobTest, NewJobWaitsForThePreviousTasksToUnregister) {
  paced.Set("/slow.bin", {200, Pattern(120000, 'g'), true, 400000});  // about 0.3 s
  SetSlot(1, Nginx("/big.bin"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  // A task under number 1 is still registered when the job starts.
  ASSERT_EQ(job->registry().StartDownloadTask(paced.Url("/slow.bin"), Path("slow.bin"), {}, 1), 1);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  ASSERT_TRUE(RunJob());
  ExpectInstalled(1);
}

TEST_F(InstallJobTest, RegistryThatDoesNotEmptyInTimeEndsTheJobInFailure) {
  paced.Set("/slow.bin", {200, Pattern(400000, 'h'), true, 200000});  // about 2 s
  SetSlot(1, Nginx("/big.bin"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  job->SetRegistryWaitLimitMs(200);
  ASSERT_EQ(job->registry().StartDownloadTask(paced.Url("/slow.bin"), Path("slow.bin"), {}, 2), 1);
  ASSERT_EQ(job->registry().StartDownloadTask(paced.Url("/slow.bin"), Path("slow2.bin"), {}, 2), -1);
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  EXPECT_EQ(job->phase(), install::InstallJob::Phase::Idle);
  ExpectFailureShown();
}

TEST_F(InstallJobTest, ThreadThatCannotBeCreatedEndsTheJobInFailure) {
  paced.Set("/ravik.dat", {200, Pattern(100000, 'j'), true, 400000});  // about 0.25 s
  SetSlot(1, paced.Url("/ravik.dat"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  int calls = 0;
  job->registry().SetThreadLauncher([&calls](std::thread& out, std::function<void()> body) {
    // The first task gets its thread, the second none.
    if (++calls == 2) return false;
    return install::TaskRegistry::LaunchStdThread(out, std::move(body));
  });
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  EXPECT_EQ(job->registry().Count(), 1u);  // nothing kept for the thread that never was
  ASSERT_TRUE(RunJob());
  ExpectFailureShown();
  EXPECT_TRUE(job->registry().WaitUntilEmpty(2000));
}

TEST_F(InstallJobTest, DestroyingTheJobMidDownloadStopsItsThreads) {
  paced.Set("/ravik.dat", {200, Pattern(4000000, 'i'), true, 400000});  // 10 s
  SetSlot(1, paced.Url("/ravik.dat"), Nginx("/small.bin"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  backend.RunUntil([] { return false; }, 300);
  auto t0 = std::chrono::steady_clock::now();
  job.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));
  Settle();  // late posts find the job gone
}

}  // namespace
