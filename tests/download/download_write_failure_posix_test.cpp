// A write that fails (here: the file-size limit, as a full disk would) ends
// the download in Failed and leaves nothing under the target name.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "download/download_task.h"
#include "platform/fs.h"
#include "support/download_support.h"
#include "support/temp_dir.h"

namespace download {
namespace {

TEST(DownloadWriteFailure, FileSizeLimitMidBodyFailsAndRemovesThePartialFile) {
  testing_support::TempDir dir;
  std::string target = dir.path() + "\\limited.bin";
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  testing_support::ReportLog log;
  auto done = std::make_shared<CompletionEvent>();
  {
    DownloadTask task;
    task.Start("http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + "/ok?size=400000",
               target, log.Callback(), 0, done);
    EXPECT_TRUE(done->WaitFor(30000));
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  auto s = log.Statuses();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[s.size() - 2], kFailed);
  EXPECT_EQ(s.back(), kFinished);
  EXPECT_FALSE(platform::FileExists(target));
  EXPECT_FALSE(platform::FileExists(target + DownloadTask::kTempSuffix));
}

}  // namespace
}  // namespace download
