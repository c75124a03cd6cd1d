// A target held open without sharing (a running program) cannot be replaced:
// the download ends in Failed, the old file stays and no temporary file is left.
#include <windows.h>

#include <gtest/gtest.h>

#include "download/download_task.h"
#include "platform/fs.h"
#include "platform/win32/wide.h"
#include "support/download_support.h"
#include "support/temp_dir.h"

namespace download {
namespace {

TEST(DownloadLockedTarget, LockedTargetFailsAndStaysAsItWas) {
  testing_support::TempDir dir;
  std::string target = dir.path() + "\\locked.exe";
  ASSERT_TRUE(platform::WriteFileBytes(target, std::string_view("old program")));
  HANDLE lock = ::CreateFileW(platform::win32::Widen(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  testing_support::ReportLog log;
  auto done = std::make_shared<CompletionEvent>();
  {
    DownloadTask task;
    task.Start("http://127.0.0.1:" + std::to_string(testing_support::TestPortBase() + 2) + "/ok?size=4000",
               target, log.Callback(), 0, done);
    EXPECT_TRUE(done->WaitFor(30000));
  }
  ::CloseHandle(lock);
  auto s = log.Statuses();
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[s.size() - 2], kFailed);
  EXPECT_EQ(s.back(), kFinished);
  auto bytes = platform::ReadWholeFile(target);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "old program");
  EXPECT_FALSE(platform::FileExists(target + DownloadTask::kTempSuffix));
}

}  // namespace
}  // namespace download
