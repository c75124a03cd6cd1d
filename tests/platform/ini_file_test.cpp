#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/fs.h"
#include "platform/text_codec.h"
#include "support/ini_cases.h"
#include "support/temp_dir.h"

namespace {
using testing_support::Escaped;

std::string Bytes(const std::string& path) {
  auto b = platform::ReadWholeFile(path);
  return b ? std::string(b->begin(), b->end()) : "<none>";
}

std::string EngineRead(const std::string& file, const testing_support::IniOp& op) {
  return platform::ReadIniItem(file, op.section, *op.key, *op.value);
}

bool EngineWrite(const std::string& file, const testing_support::IniOp& op) {
  std::optional<std::string_view> key, value;
  if (op.key) key = *op.key;
  if (op.value) value = *op.value;
  return platform::WriteIniItem(file, op.section, key, value);
}

// The cases the Wine test also puts to the system's own functions.
TEST(IniFile, RecordedCases) {
  testing_support::TempDir dir;
  int n = 0;
  for (const auto& c : testing_support::IniCases()) {
    SCOPED_TRACE(c.name);
    std::string path = dir.path() + "\\case" + std::to_string(n++) + ".ini";
    auto run = testing_support::RunIniCase(c, path, EngineRead, EngineWrite);
    auto want = testing_support::ExpectedRun(c);
    EXPECT_EQ(run.results, want.results);
    EXPECT_EQ(run.final.has_value(), want.final.has_value());
    if (run.final && want.final) {
      EXPECT_EQ(Escaped(*run.final), Escaped(*want.final));
    }
  }
}

TEST(IniFile, WritesReplaceTheFileWhole) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteIniItem(path, "Config", "WindowMode", "1"));
  ASSERT_TRUE(platform::WriteIniItem(path, "Config", "ScreenWidth", "1280"));
  platform::DirectoryListing list(dir.path() + "\\*", std::nullopt);
  std::set<std::string> names;
  for (std::string name = list.Next(); !name.empty(); name = list.Next()) names.insert(name);
  EXPECT_EQ(names, std::set<std::string>{"Game.ini"});  // no temporary left beside it
  EXPECT_EQ(Bytes(path), "[Config]\r\nWindowMode=1\r\nScreenWidth=1280\r\n");
}

TEST(IniFile, FailuresLeaveTheFileAlone) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\Game.ini";
  const std::string before = "[Config]\r\nWindowMode=1\r\n";
  ASSERT_TRUE(platform::WriteFileBytes(path, before));
  // Line breaks would smuggle in keys of their own; "=" and "[" could not be read back.
  EXPECT_FALSE(platform::WriteIniItem(path, "Config", "WindowMode", "1\r\nServerIP=6.6.6.6"));
  EXPECT_FALSE(platform::WriteIniItem(path, "Config\n[Evil", "k", "v"));
  EXPECT_FALSE(platform::WriteIniItem(path, "Config", "a=b", "v"));
  EXPECT_FALSE(platform::WriteIniItem(path, "Config", "[x]", "v"));
  EXPECT_FALSE(platform::WriteIniItem(path, "Config", " ", "v"));
  EXPECT_FALSE(platform::WriteIniItem(path, "", "k", "v"));
  EXPECT_FALSE(platform::WriteIniItem("  ", "Config", "k", "v"));
  // GBK has no emoji: storing "?" instead would report a loss as success.
  EXPECT_FALSE(platform::WriteIniItem(path, "Config", "Name", "\xF0\x9F\x98\x80"));
  EXPECT_EQ(Bytes(path), before);
  // A folder in the file's place, and a folder that does not exist.
  ASSERT_TRUE(platform::CreateFolder(dir.path() + "\\folder.ini"));
  EXPECT_FALSE(platform::WriteIniItem(dir.path() + "\\folder.ini", "Config", "k", "v"));
  EXPECT_EQ(platform::ReadIniItem(dir.path() + "\\folder.ini", "Config", "k", "d"), "d");
  EXPECT_FALSE(platform::WriteIniItem(dir.path() + "\\no\\Game.ini", "Config", "k", "v"));
}

TEST(IniFile, NamesSkipLeadingControlBytes) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteFileBytes(path, "[Config]\r\nWindowMode=0\r\n"));
  EXPECT_EQ(platform::ReadIniItem(path, "\x01\x1F" "Config", "\x02WindowMode", "1"), "0");
  EXPECT_EQ(platform::ReadIniItem(path, "Config", std::string_view("\0\x05", 2), "1"), "");
  EXPECT_EQ(platform::ReadIniItem(" \x01", "Config", "WindowMode", "1"), "");
  EXPECT_EQ(platform::ReadIniItem(" " + path, "Config", "WindowMode", "1"), "0");
}

TEST(IniFile, Utf8FileWithByteOrderMarkStaysUtf8) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteFileBytes(path, "\xEF\xBB\xBF[Config]\r\nName=【甲】\r\n"));
  EXPECT_EQ(platform::ReadIniItem(path, "Config", "Name"), "【甲】");
  ASSERT_TRUE(platform::WriteIniItem(path, "Config", "Mode", "×"));
  EXPECT_EQ(Bytes(path), "\xEF\xBB\xBF[Config]\r\nName=【甲】\r\nMode=×\r\n");
}

TEST(IniFile, ValuesCapNeverSplitsACharacter) {
  // One ASCII byte, then two-byte characters across the cap.
  std::string raw = "a";
  while (raw.size() < platform::kIniMaxValueBytes + 10) raw += "\xB0\xA1";
  std::string v = platform::ini::FinishValue(raw, false);
  EXPECT_EQ(v.size(), platform::kIniMaxValueBytes - 1);
  EXPECT_TRUE(platform::GbkToUtf8(v).find("\xEF\xBF\xBD") == std::string::npos);
}

TEST(IniFile, EditsKeepUntouchedBytes) {
  using platform::ini::Edit;
  // Bytes the system would never write (NUL, stray lead bytes) survive a change elsewhere.
  std::string odd("[S]\r\nx=\x81\r\nweird\0line\r\nk=1\r\n", 25);
  auto out = Edit(odd, "S", "k", "2");
  ASSERT_TRUE(out);
  EXPECT_EQ(Escaped(*out), Escaped(std::string("[S]\r\nx=\x81\r\nweird\0line\r\nk=2\r\n", 25)));
  // A lone CR ends a line too.
  out = Edit("[S]\rk=1\r[T]\rk=3", "T", "k", "4");
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "[S]\rk=1\r[T]\rk=4");
  out = Edit("[S]\rk=1\r[T]\rk=3", "S", "j", "2");
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "[S]\rk=1\rj=2\r\n[T]\rk=3");
  // The key's last line without a break, deleted.
  out = Edit("[S]\r\na=1\r\nb=2", "S", "b", std::nullopt);
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, "[S]\r\na=1\r\n");
  EXPECT_FALSE(Edit("[S]\r\na=1\r\n", "S", "a", "1"));  // nothing to change
}

}  // namespace
