#include "support/panel_fixture.h"

#include <filesystem>

#include "config/launcher_config.h"
#include "platform/fs.h"

namespace testing_support {

void PanelFixture::SetUp() {
  platform::OverrideRunDirectory(run.path());
  platform::OverrideSpecialFolder(platform::kFolderDesktop, desk.path() + "\\");
  platform::SetMessageHook([this](const platform::MessageCall& c) {
    messages.push_back(c);
    return 0;
  });
  platform::SetShellHook([this](const platform::ShellCall& c) {
    shellOpens.push_back(c);
    return 42;
  });
  launcher.SetInstanceGuard([this] {
    ++guardCalls;
    return true;
  });
  launcher.BindEvents();
  config = {
      {"主页地址编辑框", "http://127.0.0.1:9/home.html"},
      {"LOGO素材地址编辑框", ""},
      {"适龄提示内容编辑框", "适龄提示：适合18岁以上使用"},
      {"购卡充值地址编辑框", "https://127.0.0.1:9/topup.html"},
      {"注册账号地址编辑框", "http://127.0.0.1:9/register.html"},
      {"客户服务地址编辑框", "http://127.0.0.1:9/service.html"},
      {"版本一名称编辑框", "Ravik 经典版"},
      {"版本二名称编辑框", "Solen 怀旧版"},
      {"版本三名称编辑框", "Tavor 新纪元"},
      {"版本四名称编辑框", "Nuvik 测试服"},
      {"创建版本文件夹名称编辑框1", "Ravik"},
      {"创建版本文件夹名称编辑框2", "Solen"},
      {"创建版本文件夹名称编辑框3", "Tavor"},
      {"创建版本文件夹名称编辑框4", "Nuvik"},
      {"版本1公告编辑框", "http://127.0.0.1:9/news/1.html"},
      {"版本2公告编辑框", "http://127.0.0.1:9/news/2.html"},
      {"版本3公告编辑框", "http://127.0.0.1:9/news/3.html"},
      {"版本4公告编辑框", "http://127.0.0.1:9/news/4.html"},
      {"版本1背景图编辑框", ""},
      {"版本2背景图编辑框", ""},
      {"版本3背景图编辑框", ""},
      {"版本4背景图编辑框", ""},
      {"版本一登录器下载exe", "http://127.0.0.1:9/files/ravik/RavikGame.exe"},
      {"版本一登录器下载dat", "http://127.0.0.1:9/files/ravik/ravik.dat"},
      {"版本二登录器下载exe", "http://127.0.0.1:9/files/solen/SolenGame.exe"},
      {"版本二登录器下载dat", "http://127.0.0.1:9/files/solen/solen.dat"},
      {"版本三登录器下载exe", "http://127.0.0.1:9/files/tavor/TavorGame.exe"},
      {"版本三登录器下载dat", "http://127.0.0.1:9/files/tavor/tavor.dat"},
      {"版本四登录器下载exe", "http://127.0.0.1:9/files/nuvik/NuvikGame.exe"},
      {"版本四登录器下载dat", "http://127.0.0.1:9/files/nuvik/nuvik.dat"},
  };
}

void PanelFixture::TearDown() {
  platform::OverrideRunDirectory("");
  platform::OverrideSpecialFolder(platform::kFolderDesktop, std::nullopt);
  platform::SetMessageHook(nullptr);
  platform::SetShellHook(nullptr);
}

void PanelFixture::WriteConfig() {
  std::string text;
  for (const auto& [key, value] : config) text += key + "=" + value + "\r\n";
  ASSERT_TRUE(platform::WriteFileBytes(Path("配置文件.dat"), config::EncodeConfigText(text)));
}

bool PanelFixture::Start() {
  WriteConfig();
  return ui.LoadWindow(ui::WindowId::Main, false);
}

void PanelFixture::WriteText(const std::string& path, std::string_view bytes) {
  ASSERT_TRUE(platform::WriteFileBytes(path, bytes)) << path;
}

std::string PanelFixture::ReadText(const std::string& path) const {
  std::optional<platform::Bytes> b = platform::ReadWholeFile(path);
  EXPECT_TRUE(b) << "cannot read " << path;
  return b ? std::string(b->begin(), b->end()) : std::string();
}

void PanelFixture::MakeFolder(const std::string& path) { ASSERT_TRUE(platform::CreateFolder(path)) << path; }

void PanelFixture::MakeReadOnly(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  std::filesystem::permissions(std::filesystem::path(std::u8string(p.begin(), p.end())),
                               std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
}

const ui::ControlState& PanelFixture::Main(std::string_view name) const {
  const ui::ControlState* c = ui.Control(ui::WindowId::Main, name);
  if (!c) {
    ADD_FAILURE() << "no control " << name;
    static ui::ControlState none;
    return none;
  }
  return *c;
}

const ui::ControlState& PanelFixture::Settings(std::string_view name) const {
  const ui::ControlState* c = ui.Control(ui::WindowId::Settings, name);
  if (!c) {
    ADD_FAILURE() << "no settings control " << name;
    static ui::ControlState none;
    return none;
  }
  return *c;
}

std::vector<std::string> PanelFixture::VisibleStartAndInstall() const {
  std::vector<std::string> out;
  for (const ui::ControlState* c : ui.Controls(ui::WindowId::Main)) {
    std::string_view n = c->design->name;
    if ((n.starts_with("开始游戏按钮_") || n.starts_with("安装游戏按钮_")) && c->visible) out.emplace_back(n);
  }
  return out;
}

}  // namespace testing_support
