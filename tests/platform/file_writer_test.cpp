// The download's file writer: a reservation made from the announced size
// never shows in the file's length, so a body that ends early cannot leave a
// file that looks complete.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_writer.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

TEST(DownloadFileWriter, ReservedRoomIsNotPartOfTheFile) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\reserved.part";
  FileWriter file;
  ASSERT_TRUE(file.Create(path));
  file.Reserve(4 * 1024 * 1024);
  std::string first(1000, 'a'), second(234, 'b');
  ASSERT_TRUE(file.Write(first.data(), first.size()));
  ASSERT_TRUE(file.Write(second.data(), second.size()));
  ASSERT_TRUE(file.Close());
  auto bytes = ReadWholeFile(path);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 1234u);
  EXPECT_TRUE(std::string(bytes->begin(), bytes->end()) == first + second);
}

TEST(DownloadFileWriter, ReserveBeforeCreateOrOfNothingIsHarmless) {
  testing_support::TempDir dir;
  FileWriter file;
  file.Reserve(1024);  // no file yet
  ASSERT_TRUE(file.Create(dir.path() + "\\empty.part"));
  file.Reserve(0);
  file.Reserve(-5);
  ASSERT_TRUE(file.Close());
  auto empty = ReadWholeFile(dir.path() + "\\empty.part");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace platform
