#include "config/config_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "config/launcher_config.h"
#include "platform/text_codec.h"

namespace {

std::string CleanText() {
  std::string t;
  for (const auto& k : config::ConfigKeys()) {
    std::string value = "v";
    if (std::string_view(k.name).find("登录器下载") != std::string_view::npos) value = "http://h/f.bin";
    t += std::string(k.name) + "=" + value + "\n";
  }
  return t;
}

bool Flags(const config::CheckReport& r, std::string_view needle) {
  for (const auto& p : r.problems)
    if (p.find(needle) != std::string::npos) return true;
  return false;
}

config::CheckReport Check(std::string_view text) { return config::CheckConfigBytes(config::EncodeConfigText(text)); }

TEST(ConfigCheck, CleanFileHasNoProblemsAndListsAllKeys) {
  auto r = Check(CleanText());
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  ASSERT_EQ(r.values.size(), 30u);
  EXPECT_EQ(r.values[0].first, "主页地址编辑框");
  EXPECT_EQ(r.values[0].second, "v");
}

TEST(ConfigCheck, FlagsEachSilentMisreading) {
  std::string base = CleanText();
  EXPECT_TRUE(Flags(Check(base + "主页地扯编辑框=typo\n"), "unknown key"));
  EXPECT_TRUE(Flags(Check(" " + base), "leading or trailing blanks"));
  EXPECT_TRUE(Flags(Check(base + "主页地址编辑框=again\n"), "duplicate key"));
  std::string missing = base.substr(base.find('\n') + 1);
  EXPECT_TRUE(Flags(Check(missing), "missing key \"主页地址编辑框\""));
  std::string noName = base;
  noName.replace(noName.find("http://h/f.bin"), 14, "http://h/dir/");
  EXPECT_TRUE(Flags(Check(noName), "no file name after its last"));
}

TEST(ConfigCheck, WarnsOfPagesWithoutAScheme) {
  auto warns = [](const config::CheckReport& r, const std::string& needle) {
    return std::any_of(r.warnings.begin(), r.warnings.end(),
                       [&](const std::string& w) { return w.find(needle) != std::string::npos; });
  };
  EXPECT_FALSE(warns(Check(CleanText()), "without a scheme"));
  for (const char* key :
       {"主页地址编辑框", "购卡充值地址编辑框", "注册账号地址编辑框", "客户服务地址编辑框", "版本3公告编辑框"}) {
    std::string text = CleanText();
    std::string line = std::string(key) + "=v\n";
    text.replace(text.find(line), line.size(), std::string(key) + "=www.good.com/x\n");
    auto r = Check(text);
    EXPECT_TRUE(r.problems.empty()) << key;
    EXPECT_TRUE(warns(r, std::string(key) + "\" is \"www.good.com/x\" without a scheme; the launcher opens "
                                             "http://www.good.com/x"))
        << key;
  }
}

TEST(ConfigCheck, DownloadConnectionsKeyIsOptionalAndChecked) {
  const std::string base = CleanText();
  EXPECT_TRUE(Check(base).problems.empty());  // absent: no "missing key"
  for (const char* good : {"1", "4", "8"}) {
    auto r = Check(base + "下载连接数=" + good + "\n");
    EXPECT_TRUE(r.problems.empty()) << good << ": " << r.problems.front();
  }
  for (const char* bad : {"0", "9", "", "04", " 4", "four", "-1", "4.0"}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(Flags(Check(base + "下载连接数=" + bad + "\n"), "not a number from 1 to 8; the launcher uses 4"));
  }
  EXPECT_TRUE(Flags(Check(base + "下载连接数=2\n下载连接数=3\n"), "duplicate key \"下载连接数\""));
}

TEST(ConfigCheck, FlagsNamesTheLauncherWouldRefuse) {
  // The same check as the launcher's: what passes here installs there.
  std::string base = CleanText();
  auto with = [&](std::string_view key, std::string value) {
    std::string t = base;
    std::size_t at = t.find(std::string(key) + "=") + key.size() + 1;
    t.replace(at, t.find('\n', at) - at, value);
    return Check(t);
  };
  for (const char* folder : {"abc.", "CONIN$", "nul.txt", "a\\b", "..", "x "})
    EXPECT_TRUE(Flags(with("创建版本文件夹名称编辑框2", folder), "is refused by the launcher")) << folder;
  EXPECT_TRUE(with("创建版本文件夹名称编辑框2", "x..y").problems.empty());
  EXPECT_TRUE(Flags(with("版本三登录器下载exe", "http://h/CON.exe"), "refuses as a file name"));
  EXPECT_TRUE(Flags(with("版本三登录器下载dat", "http://h/data?v=2"), "refuses as a file name"));
  EXPECT_TRUE(with("版本三登录器下载dat", "http://h/x..y.pak").problems.empty());
}

TEST(ConfigCheck, IntegrityKeysAreOptionalAndAMalformedValueIsNamed) {
  std::string base = CleanText();
  const std::string hash(64, 'a');
  auto good = Check(base + "版本一登录器下载exe大小=1000\n版本一登录器下载exe校验=" + hash +
                    "\n版本四登录器下载dat镜像=http://m1/f.bin|https://m2/f.bin\n");
  EXPECT_TRUE(good.problems.empty()) << good.problems.front();
  ASSERT_EQ(good.values.size(), 33u);
  EXPECT_EQ(good.values[30].first, "版本一登录器下载exe大小");
  EXPECT_EQ(good.values[30].second, "1000");
  struct Row {
    const char* line;
    const char* flagged;
  };
  for (Row r : {Row{"版本二登录器下载dat大小=1k", "\"版本二登录器下载dat大小\" is not a size"},
                Row{"版本二登录器下载dat大小=0", "\"版本二登录器下载dat大小\" is not a size"},
                Row{"版本三登录器下载exe校验=abc", "\"版本三登录器下载exe校验\" is not a SHA-256"},
                Row{"版本四登录器下载exe镜像=http://m/f.bin|/f.bin", "\"版本四登录器下载exe镜像\" is not http://"},
                Row{"版本四登录器下载exe镜像=http://m/f.bin |http://n/f.bin", "\"版本四登录器下载exe镜像\" is not"},
                Row{"版本一登录器下载exe大小=5\n版本一登录器下载exe大小=6", "duplicate key \"版本一登录器下载exe大小\""},
                Row{"版本一登录器下载exe大写=5", "unknown key"}}) {
    EXPECT_TRUE(Flags(Check(base + r.line + "\n"), r.flagged)) << r.line;
  }
  // A stated size for a file without an address.
  std::string noAddress = base;
  std::size_t at = noAddress.find("版本二登录器下载exe=") + std::string("版本二登录器下载exe=").size();
  noAddress.erase(at, noAddress.find('\n', at) - at);
  EXPECT_TRUE(Flags(Check(noAddress + "版本二登录器下载exe大小=5\n"), "has no address"));
}

// Plain http without a hash: anyone on the path can swap the program the
// start button runs. A warning, not a problem: the launcher reads it fine.
TEST(ConfigCheck, WarnsOfEachPlainHttpFileWithoutAHash) {
  const std::string base = CleanText();  // all eight files at http://h/f.bin
  const std::string hash(64, 'a');
  auto replaced = [&](std::string_view key, std::string value) {
    std::string t = base;
    std::size_t at = t.find(std::string(key) + "=") + key.size() + 1;
    t.replace(at, t.find('\n', at) - at, value);
    return t;
  };
  struct Row {
    std::string text;
    std::size_t warnings;
    const char* named;  // in one warning; nullptr: in none of them
  };
  const Row rows[] = {
      {base, 8, "\"版本一登录器下载exe\" is fetched over plain http and \"版本一登录器下载exe校验\" is not set"},
      {replaced("版本一登录器下载exe", "https://h/f.bin"), 7, nullptr},
      {replaced("版本一登录器下载exe", "HTTP://h/f.bin"), 8, "\"版本一登录器下载exe\""},
      {base + "版本一登录器下载exe校验=" + hash + "\n", 7, nullptr},
      {base + "版本一登录器下载exe校验=abc\n", 8, "\"版本一登录器下载exe\""},  // a malformed hash guards nothing
      {replaced("版本二登录器下载dat", "https://h/f.bin") + "版本二登录器下载dat镜像=https://m/f.bin|http://n/f.bin\n", 8,
       "\"版本二登录器下载dat镜像[2]\""},
      {replaced("主页地址编辑框", "http://h/"), 8, "\"版本一登录器下载exe\""},  // a page is no file to run
  };
  for (const Row& r : rows) {
    config::CheckReport report = Check(r.text);
    EXPECT_EQ(report.warnings.size(), r.warnings) << r.text;
    bool named = false;
    for (const std::string& w : report.warnings) named |= w.find(r.named ? r.named : "版本一登录器下载exe\"") != std::string::npos;
    EXPECT_EQ(named, r.named != nullptr) << r.text;
  }
  EXPECT_TRUE(Check(base).problems.empty());
}

TEST(ConfigCheck, FlagsBareLfShortFilesZeroBytesAndWrongKeys) {
  std::string plain = platform::Utf8ToGbk(CleanText());  // LF only: not what encode makes
  auto enciphered = config::DecipherConfigBytes(std::span(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()));
  EXPECT_TRUE(Flags(config::CheckConfigBytes(enciphered), "bare LF"));

  std::vector<std::uint8_t> nine = config::EncodeConfigText("abcdefghi");
  EXPECT_TRUE(Flags(config::CheckConfigBytes(nine), "under 10 bytes"));

  auto zero = config::EncodeConfigText(CleanText() + std::string(1, '\0') + "tail\n");
  EXPECT_TRUE(Flags(config::CheckConfigBytes(zero), "zero byte"));

  // Not enciphered at all: GBK text XOR the key rarely stays GBK.
  std::string raw = platform::Utf8ToGbk("主页地址编辑框=http://example.invalid/\r\n版本一名称编辑框=一号版本\r\n");
  auto r = config::CheckConfigBytes(std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()));
  EXPECT_FALSE(r.problems.empty());
}

TEST(ConfigCheck, OperatorTextMayBeGbkOrUtf8WithBom) {
  std::string utf8 = "版本一名称编辑框=一号";
  EXPECT_EQ(config::OperatorTextToUtf8("\xEF\xBB\xBF" + utf8), utf8);
  EXPECT_EQ(config::OperatorTextToUtf8(platform::Utf8ToGbk(utf8)), utf8);
}

TEST(TextCodec, FixedTextsRoundTripThroughGbk) {
  // Every text the launcher writes to disk or the game reads must survive GBK.
  const char* texts[] = {
      "[Config]", "Selection=【Orvane◆Wendal◆Qelmar】|Kestrand", "800×600", "1280×1024",
      "配置文件.dat", "Tarnwick游戏", "Tarnwick游戏.lnk", "Tarnwick游戏盒子启动器_唯一标识_2026",
      "适龄提示：适合16岁以上使用",
  };
  for (const char* t : texts) {
    bool ok = false;
    std::string gbk = platform::Utf8ToGbk(t, &ok);
    EXPECT_TRUE(ok) << t;
    EXPECT_EQ(platform::GbkToUtf8(gbk), t);
  }
  EXPECT_EQ(platform::Utf8ToGbk("×"), "\xA1\xC1");
  EXPECT_EQ(platform::Utf8ToGbk("【"), "\xA1\xBE");
  EXPECT_EQ(platform::Utf8ToGbk("◆"), "\xA1\xF4");
  bool ok = true;
  EXPECT_EQ(platform::Utf8ToGbk("a\xF0\x9F\x98\x80" "b", &ok), "a?b");  // emoji has no GBK form
  EXPECT_FALSE(ok);
  EXPECT_EQ(platform::GbkToUtf8("a\xFF", &ok), "a\xEF\xBF\xBD");
  EXPECT_FALSE(ok);
}

TEST(TextCodec, ReportsTheFirstByteThatDidNotConvert) {
  constexpr std::size_t kNone = std::string_view::npos;
  struct Row {
    std::string_view utf8;
    std::size_t firstBad;
  } toGbk[] = {
      {"版本一=é×", kNone},          // é and × are in GBK
      {"ab\xF0\x9F\x98\x80c\xF0\x9F\x98\x80", 2},
      {"版\xE1\xBA\x9E", 3},         // ẞ has no GBK form
      {"ok\xFF", 2},                  // not UTF-8 at all
  };
  for (const Row& r : toGbk) {
    std::size_t bad = 0;
    platform::Utf8ToGbk(r.utf8, nullptr, &bad);
    EXPECT_EQ(bad, r.firstBad) << r.utf8;
  }
  std::size_t bad = 0;
  EXPECT_EQ(platform::GbkToUtf8("\xA1\xC1\x81\x20\xFF", nullptr, &bad), "×\xEF\xBF\xBD \xEF\xBF\xBD");
  EXPECT_EQ(bad, 2u);
  platform::GbkToUtf8("\xA1\xC1", nullptr, &bad);
  EXPECT_EQ(bad, kNone);
}

TEST(TextCodec, LongRunsOfBadInputStayLinear) {
  // Restarting the system converter at each bad character made a megabyte of
  // them take many seconds.
  std::string emoji, junk(4 << 20, '\xFF');
  for (int i = 0; i < (1 << 20); ++i) emoji += "\xF0\x9F\x98\x80";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform::Utf8ToGbk(emoji), std::string(1 << 20, '?'));
  EXPECT_EQ(platform::GbkToUtf8(junk).size(), junk.size() * 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(ConfigCheck, OperatorTextNamesLineAndColumnOfTheFirstNonGbkCharacter) {
  struct Row {
    std::string_view raw;
    std::size_t line, column;
  } rows[] = {
      {"a=b\n版本一=一号\n", 0, 0},
      {"a=b\n版本一=\xF0\x9D\x84\x9E\n", 2, 5},           // 𝄞 after four characters
      {"\xEF\xBB\xBFx\r\nk=\xE1\xBA\x9E\xE1\xBA\x9E", 2, 3},  // BOM and CR LF do not count
      {"k=\xD6\xD0\n\xFF", 2, 1},                            // GBK input with a byte that is not GBK
      {"\xD2\xBB\xBA\xC5\nk=\xD6\xD0\xFF", 2, 4},                // the same after GBK characters
      // UTF-8 with a few stray bytes: named in UTF-8, not read as GBK.
      {"主页地址编辑框=http://h/\nk=ab\xFF\xFE\x81\x30\n", 2, 5},
      {"版本一=一号\n\n名=\xC0\xAF号\n", 3, 3},                  // an overlong '/'
  };
  for (const Row& r : rows) {
    config::OperatorGbk g = config::OperatorTextToGbk(r.raw);
    EXPECT_EQ(g.line, r.line) << r.raw;
    EXPECT_EQ(g.column, r.column) << r.raw;
  }
  EXPECT_TRUE(config::OperatorTextToGbk("a=b\nk=ab\xFF\xFE\x81\x30\n中文").notText);
  EXPECT_FALSE(config::OperatorTextToGbk("a=b\nk=\xF0\x9D\x84\x9E\n").notText);
  EXPECT_EQ(config::OperatorTextToGbk("k=中\n").gbk, "k=\xD6\xD0\n");
  // Notes are left out with their line ends; a '#' inside a value stays.
  EXPECT_EQ(config::OperatorTextToGbk("# 说明\r\nk=中#1\n  \t#a=b\n\n#\nj=2\n# end").gbk, "k=\xD6\xD0#1\n\nj=2\n");
  EXPECT_EQ(config::OperatorTextToGbk("\xEF\xBB\xBF#x\nk=v").gbk, "k=v");
  // A note's character GBK lacks is still named where it lies.
  config::OperatorGbk noted = config::OperatorTextToGbk("#a\n#\xF0\x9D\x84\x9E\n");
  EXPECT_EQ(noted.line, 2u);
  EXPECT_EQ(noted.column, 2u);
  // Line ends become CR LF in GBK, before enciphering.
  std::string_view plain = "a=\xD6\xD0\r\nb=\r\nc";
  EXPECT_EQ(config::EncipherGbkText("a=\xD6\xD0\nb=\r\nc"),
            config::DecipherConfigBytes(std::span(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size())));
}

}  // namespace
