#include "ui/designs.h"

namespace ui {
namespace {

using K = Kind;
using R = Role;

constexpr ControlSpec kMain[] = {
    {"窗口Ex1", K::WindowEx, {12, 12, 24, 24}, "", "", "", R::None},
    {"LOGO图片框", K::PictureBoxEx, {8, 8, 192, 48}, "", "", "", R::Logo},
    {"网站主页图片按钮", K::ImageButtonEx, {240, 20, 100, 26}, "", "网站主页", "", R::LinkButton},
    {"游戏设置图片按钮", K::ImageButtonEx, {370, 20, 100, 26}, "", "游戏设置", "", R::LinkButton},
    {"客户服务图片按钮", K::ImageButtonEx, {500, 20, 100, 26}, "", "客户服务", "", R::LinkButton},
    {"购卡充值图片按钮", K::ImageButtonEx, {630, 20, 100, 26}, "", "购卡充值", "", R::LinkButton},
    {"注册帐号图片按钮", K::ImageButtonEx, {752, 20, 118, 26}, "", "注册帐号", "", R::LinkButton},
    {"适龄提示标签", K::LabelEx, {881, 27, 183, 17}, "", "适龄提示：适合16岁以上使用", "微软雅黑", R::AgeNotice},
    {"图片按钮Ex4", K::ImageButtonEx, {1220, 29, 45, 6}, "", "", "", R::Minimise},
    {"图片按钮Ex5", K::ImageButtonEx, {1280, 20, 28, 28}, "", "", "", R::Close},
    {"版本一按钮", K::ImageButtonEx, {0, 70, 208, 100}, "", "", "", R::Version1},
    {"图片框Ex4", K::PictureBoxEx, {0, 168, 208, 4}, "", "", "", R::Separator},
    {"版本二按钮", K::ImageButtonEx, {0, 172, 208, 100}, "", "", "", R::Version2},
    {"图片框Ex5", K::PictureBoxEx, {0, 272, 208, 4}, "", "", "", R::Separator},
    {"版本三按钮", K::ImageButtonEx, {0, 276, 208, 100}, "", "", "", R::Version3},
    {"图片框Ex6", K::PictureBoxEx, {0, 375, 208, 4}, "", "", "", R::Separator},
    {"版本四按钮", K::ImageButtonEx, {0, 379, 208, 100}, "", "", "", R::Version4},
    {"图片框Ex3", K::PictureBoxEx, {206, -2, 1130, 690}, "", "", "", R::Background},
    {"时钟1", K::Timer, {0, 0, 0, 0}, "图片框Ex3", "", "", R::None},
    {"图片框Ex2", K::PictureBoxEx, {276, 53, 940, 131}, "", "", "", R::Banner},
    {"图片框Ex7", K::PictureBoxEx, {114, 73, 88, 20}, "", "", "", R::Decoration},
    {"浏览框Ex1", K::WebBrowserEx, {232, 191, 1074, 353}, "", "", "", R::None},
    {"透明标签_进度", K::LabelEx, {240, 589, 672, 24}, "", "", "", R::ProgressText},
    {"进度条Ex1", K::ProgressBarEx, {232, 616, 700, 18}, "", "", "", R::None},
    {"公告标签1", K::LabelEx, {256, 618, 128, 30}, "", "健康游戏公告", "", R::NoticeTitle},
    {"公告标签2", K::LabelEx, {385, 601, 536, 24}, "", "抵制不良游戏，拒绝盗版游戏。注意自我保护，谨防受骗上当。", "", R::NoticeLine},
    {"公告标签3", K::LabelEx, {384, 635, 488, 26}, "", "适度游戏益脑，沉迷游戏伤身。合理安排时间，享受健康生活。", "", R::NoticeLine},
    {"图片框Ex1", K::PictureBoxEx, {952, 544, 352, 40}, "", "", "", R::ServerPanel},
    {"标签Ex2", K::LabelEx, {48, 11, 120, 24}, "图片框Ex1", "最近登陆:", "黑体", R::ServerCaption},
    {"最近登录标签", K::LabelEx, {1129, 555, 160, 26}, "", "", "黑体", R::LastLogin},
    {"开始游戏按钮_Ravik", K::ImageButtonEx, {1007, 588, 248, 88}, "", "开始游戏", "", R::StartButton},
    {"开始游戏按钮_Solen", K::ImageButtonEx, {1007, 588, 248, 88}, "", "开始游戏", "", R::StartButton},
    {"开始游戏按钮_Tavor", K::ImageButtonEx, {1007, 587, 248, 88}, "", "开始游戏", "", R::StartButton},
    {"开始游戏按钮_Nuvik", K::ImageButtonEx, {1007, 588, 248, 88}, "", "开始游戏", "", R::StartButton},
    {"安装游戏按钮_Ravik", K::ImageButtonEx, {1007, 587, 248, 88}, "", "安装游戏", "", R::InstallButton},
    {"安装游戏按钮_Solen", K::ImageButtonEx, {1007, 587, 248, 88}, "", "安装游戏", "", R::InstallButton},
    {"安装游戏按钮_Tavor", K::ImageButtonEx, {1007, 587, 248, 88}, "", "安装游戏", "", R::InstallButton},
    {"安装游戏按钮_Nuvik", K::ImageButtonEx, {1007, 587, 248, 88}, "", "安装游戏", "", R::InstallButton},
};

constexpr ControlSpec kSettings[] = {
    {"游戏设置窗口Ex1", K::WindowEx, {4, 4, 24, 24}, "", "", "", R::None},
    {"游戏设置窗口关闭按钮", K::ImageButtonEx, {456, 8, 32, 32}, "", "", "", R::DialogClose},
    {"窗口模式选择框", K::CheckBoxEx, {28, 64, 44, 56}, "", "", "", R::None},
    {"标签Ex1", K::LabelEx, {65, 82, 232, 26}, "", "窗口模式启动游戏", "", R::Label},
    {"分辨率组合框", K::ComboBoxEx, {29, 136, 160, 32}, "", "800×600", "", R::None},
    {"标签Ex2", K::LabelEx, {198, 141, 200, 26}, "", "设置游戏分辨率", "", R::Label},
};

constexpr ControlSpec kPrompt[] = {
    {"窗口Ex1", K::WindowEx, {4, 4, 24, 24}, "", "", "", R::None},
    {"提示窗口关闭按钮", K::ImageButtonEx, {321, 0, 32, 32}, "", "", "", R::DialogClose},
    {"标签Ex1", K::LabelEx, {80, 80, 184, 26}, "", "此游戏还未上架", "", R::Label},
};

constexpr WindowSpec kWindows[] = {
    {WindowId::Main, kProductName, 50, 50, 1334, 687, kMain},
    {WindowId::Settings, kProductName, 50, 50, 500, 280, kSettings},
    {WindowId::Prompt, kProductName, 50, 50, 354, 180, kPrompt},
};

constexpr std::string_view kResolutions[] = {
    "800×600", "900×600", "1024×768", "1152×864", "1176×664",
    "1280×720", "1280×768", "1280×800", "1280×960", "1280×1024",
};

}  // namespace

const WindowSpec& DesignOf(WindowId id) { return kWindows[static_cast<int>(id)]; }

const ControlSpec* FindSpec(WindowId id, std::string_view name) {
  for (const ControlSpec& c : DesignOf(id).controls)
    if (c.name == name) return &c;
  return nullptr;
}

std::span<const std::string_view> ResolutionList() { return kResolutions; }

}  // namespace ui
