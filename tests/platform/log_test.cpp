// The launcher's log: ordered, stamped lines in a capped file with one older
// file; lines from before the open; never a crash or a wait on a bad path.
#include "platform/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"
#include "support/temp_dir.h"

namespace {

// A line starts "YYYY-MM-DD HH:MM:SS.mmm ".
const std::regex& StampPattern() {
  static const std::regex pattern(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
  return pattern;
}

std::string Read(const std::string& path) {
  auto bytes = platform::ReadWholeFile(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// Lines without their CR LF; a last line without one is kept as it is.
std::vector<std::string> Lines(const std::string& path) {
  std::string text = Read(path);
  std::vector<std::string> out;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find("\r\n", from);
    if (end == std::string::npos) {
      out.push_back(text.substr(from) + "<no line end>");
      break;
    }
    out.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  return out;
}

// The text after the timestamp; "<no stamp>" when the line does not start with one.
std::string TextOf(const std::string& line) {
  std::smatch m;
  if (!std::regex_search(line, m, StampPattern())) return "<no stamp>" + line;
  return line.substr(static_cast<std::size_t>(m.length(0)));
}

std::vector<std::string> Texts(const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& l : Lines(path)) out.push_back(TextOf(l));
  return out;
}

std::string StampNow() {
  platform::LocalTime t = platform::LocalTimeNow();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    // Lines other tests left in the queue go to a scratch file, not ours.
    platform::OpenLog(dir.path() + "\\scratch.log");
    platform::CloseLog();
    path = dir.path() + "\\TarnwickLauncher.log";
  }
  void TearDown() override { platform::CloseLog(); }

  testing_support::TempDir dir;
  std::string path;
};

TEST_F(LogFile, LinesAppearInOrderWithLocalTimestamps) {
  std::string before = StampNow();
  platform::OpenLog(path);
  platform::Log("first");
  platform::Log("second 第二行");
  platform::Log("");
  platform::Log("third\tcolumn");
  platform::CloseLog();
  std::string after = StampNow();

  std::string text = Read(path);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(Texts(path), (std::vector<std::string>{"first", "second 第二行", "", "third\tcolumn"}));
  for (const std::string& l : lines) {
    EXPECT_TRUE(std::regex_search(l, StampPattern())) << l;
    // Fixed-width stamps compare as text: each lies between the readings.
    std::string stamp = l.substr(0, 23);
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
  }
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_LE(lines[i - 1].substr(0, 23), lines[i].substr(0, 23));
}

TEST_F(LogFile, ReopeningAppendsAndAnotherPathMovesTheLog) {
  platform::OpenLog(path);
  platform::Log("one");
  platform::CloseLog();
  platform::CloseLog();  // a second close is harmless
  platform::OpenLog(path);
  platform::Log("two");
  platform::CloseLog();
  EXPECT_EQ(Texts(path), (std::vector<std::string>{"one", "two"}));

  std::string other = dir.path() + "\\other.log";
  platform::OpenLog(path);
  platform::Log("three");
  platform::OpenLog(other);  // without a close: the queued line stays with the first file
  platform::Log("four");
  platform::CloseLog();
  EXPECT_EQ(Texts(path), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(Texts(other), (std::vector<std::string>{"four"}));
}

TEST_F(LogFile, CapRotatesIntoOneOlderFile) {
  constexpr std::size_t kCap = 1000;
  // An older file from an earlier run is replaced, not kept as a second one.
  ASSERT_TRUE(platform::WriteFileBytes(path + ".1", "ancient\r\n"));
  // The existing file counts towards the cap.
  std::string earlier(900, 'e');
  earlier += "\r\n";
  ASSERT_TRUE(platform::WriteFileBytes(path, earlier));

  platform::OpenLog(path, kCap);
  char text[64];
  for (int i = 0; i < 60; ++i) {
    std::snprintf(text, sizeof text, "line %03d of the rotation test, padded to a fair length", i);
    platform::Log(text);
  }
  platform::CloseLog();

  auto size = platform::FileSizeOf(path), olderSize = platform::FileSizeOf(path + ".1");
  ASSERT_TRUE(size && olderSize);
  EXPECT_LE(*size, kCap);
  EXPECT_LE(*olderSize, kCap);
  EXPECT_GT(*size, 0u);
  // Exactly one older file beside the log.
  std::set<std::string> names;
  platform::DirectoryListing list(dir.path() + "\\TarnwickLauncher.log*", std::nullopt);
  for (std::string n = list.Next(); !n.empty(); n = list.Next()) names.insert(n);
  EXPECT_EQ(names, (std::set<std::string>{"TarnwickLauncher.log", "TarnwickLauncher.log.1"}));

  // The two files hold an unbroken run of the newest lines, oldest first.
  std::vector<std::string> all = Texts(path + ".1");
  for (const std::string& t : Texts(path)) all.push_back(t);
  ASSERT_FALSE(all.empty());
  int first = -1;
  ASSERT_EQ(std::sscanf(all.front().c_str(), "line %d", &first), 1) << all.front();
  EXPECT_GT(first, 0);  // the earliest lines have gone with the first rotation
  for (std::size_t k = 0; k < all.size(); ++k) {
    std::snprintf(text, sizeof text, "line %03d of the rotation test, padded to a fair length",
                  first + static_cast<int>(k));
    EXPECT_EQ(all[k], text);
  }
  EXPECT_EQ(first + static_cast<int>(all.size()), 60);
  EXPECT_EQ(Read(path + ".1").find("ancient"), std::string::npos);
  EXPECT_EQ(Read(path + ".1").find(earlier), std::string::npos);
}

TEST_F(LogFile, LinesBeforeOpenAreKeptAndAnOverflowIsCounted) {
  platform::Log("before the open");
  platform::Log("also before");
  platform::OpenLog(path);
  platform::Log("after the open");
  platform::CloseLog();
  EXPECT_EQ(Texts(path), (std::vector<std::string>{"before the open", "also before", "after the open"}));

  // While closed the queue is bounded; what does not fit is counted.
  std::string second = dir.path() + "\\second.log";
  for (int i = 0; i < 1007; ++i) platform::Log("queued " + std::to_string(i));
  platform::OpenLog(second);
  platform::CloseLog();
  std::vector<std::string> texts = Texts(second);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front(), "queued 0");
  EXPECT_EQ(texts[999], "queued 999");
  EXPECT_EQ(texts.back(), "7 log lines dropped (queue full)");
}

TEST_F(LogFile, LineBreaksAndControlBytesStayInOneLine) {
  platform::OpenLog(path);
  platform::Log("a\r\nb\nc\rd");
  platform::Log(std::string_view("nul\0byte", 8));
  std::string longText;
  for (int i = 0; i < 3000; ++i) longText += "长";  // three bytes each
  platform::Log(longText);
  platform::Log("next");
  platform::CloseLog();

  std::vector<std::string> texts = Texts(path);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "a\\r\\nb\\nc\\rd");
  EXPECT_EQ(texts[1], "nul\\x00byte");
  // A very long text is cut at a character boundary and marked.
  ASSERT_GT(texts[2].size(), 3u);
  EXPECT_LE(texts[2].size(), 4096u + 3);
  EXPECT_EQ(texts[2].substr(texts[2].size() - 3), "...");
  std::string kept = texts[2].substr(0, texts[2].size() - 3);
  EXPECT_EQ(kept.size() % 3, 0u);
  EXPECT_EQ(kept, longText.substr(0, kept.size()));
  EXPECT_EQ(texts[3], "next");
}

TEST_F(LogFile, AnUnwritablePathIsHarmless) {
  std::string folder = dir.path() + "\\TarnwickLauncher.log";
  ASSERT_TRUE(platform::CreateFolder(folder));
  for (const std::string& bad : {folder, dir.path() + "\\no\\such\\folder.log"}) {
    platform::OpenLog(bad);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i) platform::Log("into nowhere " + std::to_string(i));
    auto logged = std::chrono::steady_clock::now();
    platform::CloseLog();
    auto closed = std::chrono::steady_clock::now();
    // Generous bounds for slow machines; a blocking writer would take far longer.
    EXPECT_LT(logged - start, std::chrono::milliseconds(500)) << bad;
    EXPECT_LT(closed - logged, std::chrono::milliseconds(1500)) << bad;
  }
  EXPECT_TRUE(platform::FolderExists(folder));
  EXPECT_FALSE(platform::FileExists(folder + ".1"));
  EXPECT_FALSE(platform::FolderExists(dir.path() + "\\no"));

  // The log still works afterwards, and the failed lines did not linger.
  std::string good = dir.path() + "\\good.log";
  platform::OpenLog(good);
  platform::Log("works again");
  platform::CloseLog();
  EXPECT_EQ(Texts(good), (std::vector<std::string>{"works again"}));
}

TEST_F(LogFile, ManyThreadsLoseNothingUnderTheCap) {
  constexpr int kThreads = 8, kLines = 100;  // under the queue's bound even if the writer lags
  platform::OpenLog(path);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) platform::Log("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  platform::CloseLog();

  std::vector<int> next(kThreads, 0);
  std::vector<std::string> texts = Texts(path);
  ASSERT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const std::string& t : texts) {
    int thread = -1, line = -1;
    ASSERT_EQ(std::sscanf(t.c_str(), "thread %d line %d", &thread, &line), 2) << t;
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << t;
    EXPECT_EQ(line, next[static_cast<std::size_t>(thread)]) << "out of order: " << t;
    next[static_cast<std::size_t>(thread)] = line + 1;
  }
  for (int n : next) EXPECT_EQ(n, kLines);
}

TEST_F(LogFile, MessageBoxesAreLogged) {
  platform::SetMessageHook([](const platform::MessageCall&) { return 0; });
  platform::OpenLog(path);
  platform::ShowMessage("无法启动\r\n请重试", platform::kMbIconError, "错误");
  platform::CloseLog();
  platform::SetMessageHook(nullptr);
  EXPECT_EQ(Texts(path), (std::vector<std::string>{"Message box [错误]: 无法启动\\r\\n请重试"}));
}

}  // namespace
