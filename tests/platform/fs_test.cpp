#include "platform/fs.h"

#include <gtest/gtest.h>

#include <set>

#include "support/temp_dir.h"

namespace {

TEST(FileSystem, ExistsForFilesFoldersAndWildcards) {
  testing_support::TempDir dir;
  std::string sub = dir.path() + "\\sub";
  EXPECT_FALSE(platform::FileExists(sub));
  EXPECT_TRUE(platform::CreateFolder(sub));
  EXPECT_FALSE(platform::CreateFolder(dir.path() + "\\a\\b"));  // one level only
  EXPECT_TRUE(platform::FileExists(sub));                        // a directory counts
  ASSERT_TRUE(platform::WriteFileBytes(sub + "\\x.exe", "MZ"));
  EXPECT_TRUE(platform::FileExists(sub + "\\*.exe"));
  EXPECT_FALSE(platform::FileExists(sub + "\\*.dll"));
}

TEST(FileSystem, WriteTruncatesAndCopyOverwrites) {
  testing_support::TempDir dir;
  std::string a = dir.path() + "\\a.bin", b = dir.path() + "\\b.bin";
  ASSERT_TRUE(platform::WriteFileBytes(a, "long content"));
  ASSERT_TRUE(platform::WriteFileBytes(a, "short"));
  auto bytes = platform::ReadFileBytes(a);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "short");
  ASSERT_TRUE(platform::WriteFileBytes(b, "older and longer"));
  EXPECT_TRUE(platform::CopyFileTo(a, b));
  bytes = platform::ReadFileBytes(b);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "short");
  EXPECT_TRUE(platform::ReadFileBytes(dir.path() + "\\none").empty());
  EXPECT_FALSE(platform::WriteFileBytes(dir.path() + "\\no\\such\\dir.txt", "x"));
  EXPECT_TRUE(platform::DeleteFileAt(a));
  EXPECT_FALSE(platform::FileExists(a));
}

TEST(FileSystem, AtomicReplaceLeavesNoTemporary) {
  testing_support::TempDir dir;
  std::string p = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteFileBytes(p, "old"));
  ASSERT_TRUE(platform::ReplaceFileAtomically(p, "new"));
  auto bytes = platform::ReadFileBytes(p);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
  platform::DirectoryListing list(dir.path() + "\\*", std::nullopt);
  std::set<std::string> names;
  for (std::string n = list.Next(); !n.empty(); n = list.Next()) names.insert(n);
  EXPECT_EQ(names, std::set<std::string>{"Game.ini"});
}

TEST(FileSystem, ListingMasksAndDotEntries) {
  testing_support::TempDir dir;
  ASSERT_TRUE(platform::CreateFolder(dir.path() + "\\only.exe"));
  ASSERT_TRUE(platform::WriteFileBytes(dir.path() + "\\notes.txt", "x"));
  {
    // Without a mask directories are skipped.
    platform::DirectoryListing list(dir.path() + "\\*.exe", std::nullopt);
    EXPECT_EQ(list.Next(), "");
  }
  {
    platform::DirectoryListing list(dir.path() + "\\*.exe", 0x37);
    EXPECT_EQ(list.Next(), "only.exe");
    EXPECT_EQ(list.Next(), "");
  }
  {
    std::set<std::string> names;
    platform::DirectoryListing list(dir.path() + "\\*", platform::kAttrDirectory);
    for (std::string n = list.Next(); !n.empty(); n = list.Next()) names.insert(n);
    EXPECT_TRUE(names.count("only.exe"));
    EXPECT_TRUE(names.count("."));
    EXPECT_FALSE(names.count("notes.txt"));
  }
}

}  // namespace
