#include "config/launcher_config.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "config/default_config.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::string Plain(const std::vector<std::uint8_t>& enciphered) {
  auto p = config::DecipherConfigBytes(enciphered);
  return std::string(p.begin(), p.end());
}

TEST(ConfigCipher, RoundTripsRandomBytesBothWays) {
  std::mt19937 rng(7);
  for (int n : {0, 1, 15, 16, 17, 1700, 4099}) {
    std::vector<std::uint8_t> data(static_cast<size_t>(n));
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    auto once = config::DecipherConfigBytes(data);
    EXPECT_EQ(config::DecipherConfigBytes(once), data) << n;
  }
}

TEST(ConfigCipher, KeyRepeatsEvery16Bytes) {
  std::vector<std::uint8_t> zeros(33, 0);
  auto out = config::DecipherConfigBytes(zeros);
  EXPECT_EQ(out[0], 'R');
  EXPECT_EQ(out[16], 'R');  // byte 16 uses key byte 0
  EXPECT_EQ(out[15], '7');
  EXPECT_EQ(out[32], 'R');
}

TEST(ConfigLookup, FormatConsequences) {
  std::string text =
      "主页地址编辑框=a=b\r\n"
      "主页地址编辑框=second\r\n"
      " 购卡充值地址编辑框=blank-in-front\r\n"
      "\r\n"
      "no equals sign\r\n"
      "客户服务地址编辑框=  keeps blanks  ";
  EXPECT_EQ(config::LookupConfigValue(text, "主页地址编辑框"), "a=b");  // first wins, rest after first "="
  EXPECT_EQ(config::LookupConfigValue(text, "购卡充值地址编辑框"), "");
  EXPECT_EQ(config::LookupConfigValue(text, "客户服务地址编辑框"), "  keeps blanks  ");
  EXPECT_EQ(config::LookupConfigValue(text, "missing"), "");
}

TEST(ConfigLookup, BareLfMakesOneLine) {
  std::string text = "主页地址编辑框=a\nLOGO素材地址编辑框=b";
  EXPECT_EQ(config::LookupConfigValue(text, "主页地址编辑框"), "a\nLOGO素材地址编辑框=b");
  EXPECT_EQ(config::LookupConfigValue(text, "LOGO素材地址编辑框"), "");
}

TEST(ConfigLookup, ZeroByteEndsTheText) {
  std::string plain = std::string("主页地址编辑框=x\r\n") + '\0' + "\r\nLOGO素材地址编辑框=y";
  std::string gbk = platform::Utf8ToGbk(plain);
  auto file = config::DecipherConfigBytes(Bytes(gbk));
  config::Configuration c;
  config::ApplyConfigText(config::DecipherToText(file), c);
  EXPECT_EQ(c.launcher.homePageUrl, "x");
  EXPECT_EQ(c.launcher.logoImageUrl, "");
}

TEST(ConfigLookup, ThirtyKeysInLookupOrder) {
  auto keys = config::ConfigKeys();
  ASSERT_EQ(keys.size(), 30u);
  EXPECT_EQ(keys[0].name, "主页地址编辑框");
  EXPECT_EQ(keys[6].name, "版本四登录器下载dat");
  EXPECT_EQ(keys[14].name, "创建版本文件夹名称编辑框1");
  EXPECT_EQ(keys[29].name, "版本4背景图编辑框");
}

class ConfigFile : public ::testing::Test {
 protected:
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\配置文件.dat";
  config::Configuration cfg;
};

TEST_F(ConfigFile, NineBytesRefusedTenAccepted) {
  EXPECT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Missing);
  ASSERT_TRUE(platform::WriteFileBytes(path, std::string(9, 'x')));
  EXPECT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::TooShort);
  ASSERT_TRUE(platform::WriteFileBytes(path, std::string(10, 'x')));
  EXPECT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Ok);
}

TEST_F(ConfigFile, UnreadableIsNotTakenForEmpty) {
  // A folder in the file's place exists but cannot be read as a file.
  ASSERT_TRUE(platform::CreateFolder(path));
  EXPECT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Unreadable);
}

TEST_F(ConfigFile, EncodedTextFillsEverySlot) {
  auto dat = config::EncodeConfigText(
      "版本一名称编辑框=一号\n版本四名称编辑框=四号\n创建版本文件夹名称编辑框3=game3\n版本二登录器下载exe=http://h/a.exe\n");
  // Deciphered: GBK with CR LF line ends.
  EXPECT_EQ(platform::GbkToUtf8(Plain(dat)),
            "版本一名称编辑框=一号\r\n版本四名称编辑框=四号\r\n创建版本文件夹名称编辑框3=game3\r\n版本二登录器下载exe=http://h/a.exe\r\n");
  ASSERT_TRUE(platform::WriteFileBytes(path, std::span<const std::uint8_t>(dat)));
  ASSERT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Ok);
  EXPECT_EQ(cfg.slots[0].displayName, "一号");
  EXPECT_EQ(cfg.slots[3].displayName, "四号");
  EXPECT_EQ(cfg.slots[2].folderName, "game3");
  EXPECT_EQ(cfg.slots[1].programDownloadUrl, "http://h/a.exe");
  EXPECT_EQ(cfg.slots[1].displayName, "");
}

TEST_F(ConfigFile, IntegrityKeysFillTheirFileAndMalformedOnesCountAsAbsent) {
  const std::string hash = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  auto dat = config::EncodeConfigText(
      "版本一登录器下载exe=http://h/a.exe\n"
      "版本一登录器下载exe大小=1048699\n"
      "版本一登录器下载exe校验=" + hash + "\n"
      "版本一登录器下载exe镜像=http://m1/a.exe|HTTPS://m2:8443/x/a.exe\n"
      "版本四登录器下载dat大小=18446744073709551615\n"
      "版本四登录器下载dat镜像=http://m/d.pak\n"
      // Malformed: each counts as absent, its neighbours still count.
      "版本二登录器下载exe大小=12 345\n版本二登录器下载exe校验=" + hash.substr(1) + "\n"
      "版本二登录器下载exe镜像=http://m1/a.exe|ftp://m2/a.exe\n"
      "版本二登录器下载dat大小=0\n版本二登录器下载dat校验=" + hash + "\n"
      "版本三登录器下载exe大小=18446744073709551616\n版本三登录器下载dat大小=-5\n"
      "版本三登录器下载exe镜像=http://m1/a.exe||http://m2/a.exe\n版本三登录器下载dat镜像=http:///a.exe\n"
      "版本三登录器下载dat校验=" + hash.substr(0, 63) + "g\n"
      "版本一登录器下载dat大小=+7\n");
  ASSERT_TRUE(platform::WriteFileBytes(path, std::span<const std::uint8_t>(dat)));
  ASSERT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Ok);
  const config::FileIntegrity& exe1 = cfg.slots[0].programIntegrity;
  EXPECT_EQ(exe1.size, 1048699u);
  ASSERT_TRUE(exe1.sha256);
  EXPECT_EQ(platform::DigestToHex(*exe1.sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(exe1.mirrors, (std::vector<std::string>{"http://m1/a.exe", "HTTPS://m2:8443/x/a.exe"}));
  EXPECT_EQ(cfg.slots[0].dataIntegrity, config::FileIntegrity{});  // "+7" is no size
  EXPECT_EQ(cfg.slots[3].dataIntegrity.size, 18446744073709551615u);
  EXPECT_EQ(cfg.slots[3].dataIntegrity.mirrors, std::vector<std::string>{"http://m/d.pak"});
  EXPECT_EQ(cfg.slots[3].programIntegrity, config::FileIntegrity{});
  EXPECT_EQ(cfg.slots[1].programIntegrity, config::FileIntegrity{});
  EXPECT_FALSE(cfg.slots[1].dataIntegrity.size);
  EXPECT_TRUE(cfg.slots[1].dataIntegrity.sha256);
  EXPECT_EQ(cfg.slots[2].programIntegrity, config::FileIntegrity{});
  EXPECT_EQ(cfg.slots[2].dataIntegrity, config::FileIntegrity{});
  // The 30 keys read as before.
  EXPECT_EQ(cfg.slots[0].programDownloadUrl, "http://h/a.exe");

  // Read again into the same object without the keys: nothing stays behind.
  auto old = config::EncodeConfigText("版本一登录器下载exe=http://h/a.exe\n");
  ASSERT_TRUE(platform::WriteFileBytes(path, std::span<const std::uint8_t>(old)));
  ASSERT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Ok);
  EXPECT_EQ(cfg.slots[0].programIntegrity, config::FileIntegrity{});
  EXPECT_EQ(config::IntegrityKeys().size(), 24u);
}

TEST(ConfigLookup, DownloadConnectionsOneToEightElseFour) {
  struct Row {
    std::string text;
    int connections;
  };
  for (const Row& r : {Row{"", 4}, Row{"下载连接数=1\n", 1}, Row{"下载连接数=8\n", 8}, Row{"下载连接数=3\n", 3},
                       Row{"下载连接数=9\n", 4}, Row{"下载连接数=0\n", 4}, Row{"下载连接数=\n", 4},
                       Row{"下载连接数=2 \n", 4}, Row{"下载连接数=x\n下载连接数=2\n", 4}}) {
    config::Configuration cfg;
    cfg.launcher.downloadConnections = 7;  // overwritten whatever the file says
    config::ApplyConfigText(platform::GbkToUtf8(Plain(config::EncodeConfigText(r.text))), cfg);
    EXPECT_EQ(cfg.launcher.downloadConnections, r.connections) << r.text;
  }
}

TEST_F(ConfigFile, WrongKeyLeavesEveryFieldEmpty) {
  std::string plain = platform::Utf8ToGbk("主页地址编辑框=http://x\r\n版本一名称编辑框=v1\r\n");
  ASSERT_TRUE(platform::WriteFileBytes(path, plain));  // not enciphered at all
  ASSERT_EQ(config::ReadConfigFile(path, cfg), config::LoadResult::Ok);
  EXPECT_EQ(cfg.launcher.homePageUrl, "");
  EXPECT_EQ(cfg.slots[0].displayName, "");
}

TEST_F(ConfigFile, MessagesWhenMissingUnreadableOrShort) {
  std::vector<platform::MessageCall> shown;
  platform::SetMessageHook([&](const platform::MessageCall& m) {
    shown.push_back(m);
    return 0;
  });
  struct Row {
    const char* what;
    std::function<bool()> make;
    const char* message;
  };
  const Row rows[] = {
      {"missing", [] { return true; }, "配置文件不存在！请将 配置文件.dat 放在程序同目录下。"},
      // There, but no file that can be read: damaged, not missing.
      {"a folder of that name", [&] { return platform::CreateFolder(path); }, "配置文件为空或损坏！"},
      {"9 bytes", [&] { return platform::WriteFileBytes(path, std::string(9, 'x')); }, "配置文件为空或损坏！"},
  };
  for (const Row& r : rows) {
    testing_support::TempDir fresh;
    path = fresh.path() + "\\配置文件.dat";
    ASSERT_TRUE(r.make()) << r.what;
    shown.clear();
    EXPECT_FALSE(config::LoadLauncherConfigFrom(path, cfg)) << r.what;
    ASSERT_EQ(shown.size(), 1u) << r.what;
    EXPECT_EQ(shown[0].text, r.message) << r.what;
    EXPECT_EQ(shown[0].caption, "错误");
    EXPECT_EQ(shown[0].flags, 0);
  }
  EXPECT_EQ(config::kConfigDamagedText, "配置文件为空或损坏！");
  // LoadLauncherConfig reads beside the program; the test binary's folder has
  // no configuration file.
  std::string beside = platform::GetRunDirectory() + "\\配置文件.dat";
  if (!platform::FileExists(beside)) {
    shown.clear();
    EXPECT_FALSE(config::LoadLauncherConfig(cfg));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "配置文件不存在！请将 配置文件.dat 放在程序同目录下。");
  }
  platform::SetMessageHook(nullptr);
}

TEST(ConfigSummary, CountsKeysAndNamesVersionsWithoutValues) {
  config::Configuration c;
  EXPECT_EQ(config::ConfigSummary("D:\\x\\配置文件.dat", c),
            "Configuration D:\\x\\配置文件.dat: 0 of 30 keys set; versions [] [] [] []");
  c.launcher.homePageUrl = "http://operator.example/home";
  c.slots[0].displayName = "一号";
  c.slots[3].displayName = "四号";
  c.slots[3].folderName = "game4";
  c.slots[1].announcement = "公告";
  EXPECT_EQ(config::ConfigSummary("C:\\a.dat", c), "Configuration C:\\a.dat: 5 of 30 keys set; versions [一号] [] [] [四号]");
  // The default file: its names go in, its addresses stay out.
  config::Configuration d;
  config::ApplyConfigText(config::DecipherToText(config::DefaultConfigBytes()), d);
  std::string line = config::ConfigSummary("p", d);
  EXPECT_EQ(line.find("http"), std::string::npos) << line;
  EXPECT_NE(line.find(" keys set; versions [" + d.slots[0].displayName + "] [" + d.slots[1].displayName + "]"),
            std::string::npos)
      << line;
}

TEST(DefaultConfig, CarriesFourVersions) {
  auto bytes = config::DefaultConfigBytes();
  ASSERT_GE(bytes.size(), 10u);
  config::Configuration c;
  config::ApplyConfigText(config::DecipherToText(bytes), c);
  for (const auto& slot : c.slots) {
    EXPECT_FALSE(slot.displayName.empty());
    EXPECT_FALSE(slot.folderName.empty());
    EXPECT_FALSE(slot.programDownloadUrl.empty());
  }
  EXPECT_EQ(c.launcher.ageNoticeText, "适龄提示：适合16岁以上使用");
}

}  // namespace
