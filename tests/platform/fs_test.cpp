#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/temp_dir.h"

namespace {

std::string Read(const std::string& path) {
  auto bytes = platform::ReadWholeFile(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : "<cannot read>";
}

TEST(FileSystem, ReadTellsEmptyFromUnreadable) {
  testing_support::TempDir dir;
  std::string empty = dir.path() + "\\empty.dat", sub = dir.path() + "\\sub";
  ASSERT_TRUE(platform::WriteFileBytes(empty, ""));
  ASSERT_TRUE(platform::CreateFolder(sub));
  platform::ReadFailure why = platform::ReadFailure::Failed;
  auto got = platform::ReadWholeFile(empty, &why);
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->empty());
  EXPECT_EQ(why, platform::ReadFailure::None);
  EXPECT_FALSE(platform::ReadWholeFile(dir.path() + "\\none", &why));
  EXPECT_EQ(why, platform::ReadFailure::Missing);
  EXPECT_FALSE(platform::ReadWholeFile(sub, &why));
  EXPECT_EQ(why, platform::ReadFailure::NotRegular);
  EXPECT_EQ(platform::KindOfFile(sub), platform::FileKind::Folder);
  EXPECT_EQ(platform::KindOfFile(empty), platform::FileKind::Regular);
  EXPECT_EQ(platform::KindOfFile(dir.path() + "\\none"), platform::FileKind::Missing);
}

TEST(FileSystem, SameFileLooksPastTheSpelling) {
  testing_support::TempDir dir;
  std::string a = dir.path() + "\\a.txt", b = dir.path() + "\\b.txt";
  ASSERT_TRUE(platform::WriteFileBytes(a, "same"));
  ASSERT_TRUE(platform::WriteFileBytes(b, "same"));
  EXPECT_TRUE(platform::SameFile(a, a));
  EXPECT_TRUE(platform::SameFile(a, dir.path() + "\\.\\a.txt"));
  EXPECT_FALSE(platform::SameFile(a, b));  // equal content, other file
  EXPECT_FALSE(platform::SameFile(a, dir.path() + "\\none"));
  EXPECT_FALSE(platform::SameFile(dir.path() + "\\none", dir.path() + "\\none"));
}

TEST(FileSystem, ReadOnlyMarkCanBeCleared) {
  testing_support::TempDir dir;
  std::string p = dir.path() + "\\ro.dat";
  ASSERT_TRUE(platform::WriteFileBytes(p, "x"));
  EXPECT_FALSE(platform::IsReadOnlyFile(p));
  EXPECT_FALSE(platform::IsReadOnlyFile(dir.path() + "\\none"));
  std::string native = p;
  for (char& c : native)
    if (c == '\\') c = '/';
  std::filesystem::permissions(std::filesystem::path(std::u8string(native.begin(), native.end())),
                               std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  EXPECT_TRUE(platform::IsReadOnlyFile(p));
  EXPECT_TRUE(platform::MakeWritable(p));
  EXPECT_FALSE(platform::IsReadOnlyFile(p));
  EXPECT_EQ(Read(p), "x");
}

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
  EXPECT_EQ(Read(a), "short");
  ASSERT_TRUE(platform::WriteFileBytes(b, "older and longer"));
  EXPECT_TRUE(platform::CopyFileTo(a, b));
  EXPECT_EQ(Read(b), "short");
  EXPECT_FALSE(platform::CopyFileTo(dir.path() + "\\none", b));
  EXPECT_EQ(Read(b), "short");
  EXPECT_FALSE(platform::WriteFileBytes(dir.path() + "\\no\\such\\dir.txt", "x"));
  EXPECT_TRUE(platform::DeleteFileAt(a));
  EXPECT_FALSE(platform::FileExists(a));
}

TEST(FileSystem, AppendCreatesExtendsAndRefusesFolders) {
  testing_support::TempDir dir;
  std::string p = dir.path() + "\\a.log", sub = dir.path() + "\\sub";
  EXPECT_FALSE(platform::FileSizeOf(p));
  ASSERT_TRUE(platform::AppendFileBytes(p, "one\r\n"));
  ASSERT_TRUE(platform::AppendFileBytes(p, ""));
  ASSERT_TRUE(platform::AppendFileBytes(p, "two\r\n"));
  EXPECT_EQ(Read(p), "one\r\ntwo\r\n");
  EXPECT_EQ(platform::FileSizeOf(p), std::optional<std::uint64_t>(10));
  ASSERT_TRUE(platform::CreateFolder(sub));
  EXPECT_FALSE(platform::AppendFileBytes(sub, "x"));
  EXPECT_FALSE(platform::FileSizeOf(sub));
  EXPECT_FALSE(platform::AppendFileBytes(dir.path() + "\\no\\such.log", "x"));
  // Renaming over an older file replaces it.
  ASSERT_TRUE(platform::WriteFileBytes(p + ".1", "older"));
  ASSERT_TRUE(platform::MoveFileReplace(p, p + ".1"));
  EXPECT_EQ(Read(p + ".1"), "one\r\ntwo\r\n");
  EXPECT_FALSE(platform::FileExists(p));
}

TEST(FileSystem, AtomicReplaceLeavesNoTemporary) {
  testing_support::TempDir dir;
  std::string p = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteFileBytes(p, "old"));
  ASSERT_TRUE(platform::ReplaceFileAtomically(p, "new"));
  EXPECT_EQ(Read(p), "new");
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
