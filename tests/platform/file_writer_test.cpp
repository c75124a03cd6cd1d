// The download's file writer: a reservation made from the announced size
// never shows in the file's length, so a body that ends early cannot leave a
// file that looks complete.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/disk.h"
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

// A resume state may only list bytes a flush has put on the disk: the flush
// must say when it could not.
TEST(DownloadFileWriter, FlushFailsWithoutAFileAndKeepsTheWritesOfAnOpenOne) {
  testing_support::TempDir dir;
  const std::string path = dir.path() + "\\flushed.part";
  FileWriter file;
  EXPECT_FALSE(file.Flush());  // never opened
  ASSERT_TRUE(file.Create(path));
  ASSERT_TRUE(file.WriteAt(4096, "tail", 4));
  ASSERT_TRUE(file.Write("head", 4));
  EXPECT_TRUE(file.Flush());
  EXPECT_TRUE(file.Flush());  // nothing new is no failure
  auto bytes = ReadWholeFile(path);  // read while still open
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 4100u);
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 4), "head");
  EXPECT_EQ(std::string(bytes->end() - 4, bytes->end()), "tail");
  ASSERT_TRUE(file.Close());
  EXPECT_FALSE(file.Flush());  // closed
}

// A part written in ranges far ahead of its end is sparse while it has gaps
// and whole afterwards; the mark never changes its bytes.
TEST(DownloadFileWriter, SparseMarkBeforeRangesAndClearedWhenWhole) {
  testing_support::TempDir dir;
  const std::string path = dir.path() + "\\ranges.part";
  FileWriter file;
  EXPECT_EQ(file.SetSparse(true), SparseResult::Failed);  // no file yet
  ASSERT_TRUE(file.Create(path));
  const SparseResult marked = file.SetSparse(true);
  EXPECT_NE(marked, SparseResult::Failed);
  const std::int64_t far = 8 << 20;
  ASSERT_TRUE(file.WriteAt(far, "end", 3));
  ASSERT_TRUE(file.WriteAt(0, "start", 5));
  EXPECT_EQ(file.SetSparse(false), marked);
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(file.SetSparse(false), SparseResult::Failed);
  auto bytes = ReadWholeFile(path);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), static_cast<std::size_t>(far + 3));
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 5), "start");
  EXPECT_EQ((*bytes)[far / 2], 0);
  EXPECT_EQ(std::string(bytes->end() - 3, bytes->end()), "end");
}

// Which volumes cannot take a file of 4 GiB or more, by the names Windows
// and Linux give their file systems.
TEST(VolumeLimits, FatInAllItsNamesStopsBelowFourGiB) {
  struct Row {
    const char* name;
    std::int64_t max;
  };
  const std::int64_t fat = (std::int64_t{1} << 32) - 1;
  const Row rows[] = {
      {"FAT32", fat}, {"FAT", fat},    {"FAT16", fat},   {"fat32", fat}, {"vfat", fat}, {"msdos", fat},
      {"NTFS", -1},   {"exFAT", -1},   {"exfat", -1},    {"ReFS", -1},   {"ext4", -1},  {"tmpfs", -1},
      {"", -1},       {"UDF", -1},     {"CDFS", -1},
  };
  for (const Row& r : rows) EXPECT_EQ(MaxFileBytes(r.name), r.max) << r.name;
  EXPECT_EQ(kFatMaxFileBytes, fat);

  testing_support::TempDir dir;
  const std::string here = FileSystemAt(dir.path());
  EXPECT_EQ(MaxFileBytes(here), -1) << here;  // the build's own disk is no FAT
}

// On a FAT volume: the limit is found before the first byte, and the part
// cannot be sparse there. Needs such a volume: fat_drive_wine.sh links a
// FAT32 image as a Wine drive and names a folder on it.
TEST(VolumeLimits, AFatVolumeIsToldApart) {
  const char* folder = std::getenv("TARNWICK_FAT_FOLDER");
  if (!folder) GTEST_SKIP() << "no FAT volume named";
  const std::string name = FileSystemAt(folder);
  EXPECT_EQ(MaxFileBytes(name), kFatMaxFileBytes) << name;
  FileWriter file;
  ASSERT_TRUE(file.Create(std::string(folder) + "\\ranges.part"));
  EXPECT_EQ(file.SetSparse(true), SparseResult::NotSupported);
  ASSERT_TRUE(file.WriteAt(1 << 20, "x", 1));
  EXPECT_TRUE(file.Flush());
  ASSERT_TRUE(file.Close());
}

}  // namespace
}  // namespace platform
