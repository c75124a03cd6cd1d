#include "app/event_bindings.h"

namespace app {
namespace {
using C = Command;
using E = ui::Event;
constexpr ui::WindowId kMain = ui::WindowId::Main;
constexpr ui::WindowId kSettings = ui::WindowId::Settings;
constexpr ui::WindowId kPrompt = ui::WindowId::Prompt;

constexpr EventBinding kBindings[] = {
    {kMain, "", E::Created, C::MainCreated, 0},
    {kMain, "", E::Destroying, C::MainDestroying, 0},
    {kMain, "时钟1", E::TimerTick, C::SweepTick, 0},
    {kMain, "版本一按钮", E::Clicked, C::SelectVersion, 1},
    {kMain, "版本二按钮", E::Clicked, C::SelectVersion, 2},
    {kMain, "版本三按钮", E::Clicked, C::SelectVersion, 3},
    {kMain, "版本四按钮", E::Clicked, C::SelectVersion, 4},
    {kMain, "安装游戏按钮_Ravik", E::Clicked, C::InstallVersion, 1},
    {kMain, "安装游戏按钮_Solen", E::Clicked, C::InstallVersion, 2},
    {kMain, "安装游戏按钮_Tavor", E::Clicked, C::InstallVersion, 3},
    {kMain, "安装游戏按钮_Nuvik", E::Clicked, C::InstallVersion, 4},
    {kMain, "开始游戏按钮_Ravik", E::Clicked, C::StartVersion, 1},
    {kMain, "开始游戏按钮_Solen", E::Clicked, C::StartVersion, 2},
    {kMain, "开始游戏按钮_Tavor", E::Clicked, C::StartVersion, 3},
    {kMain, "开始游戏按钮_Nuvik", E::Clicked, C::StartVersion, 4},
    {kMain, "网站主页图片按钮", E::Clicked, C::OpenHomePage, 0},
    {kMain, "客户服务图片按钮", E::Clicked, C::OpenCustomerService, 0},
    {kMain, "购卡充值图片按钮", E::Clicked, C::OpenTopUp, 0},
    {kMain, "注册帐号图片按钮", E::Clicked, C::OpenRegistration, 0},
    {kMain, "游戏设置图片按钮", E::Clicked, C::OpenGameSettings, 0},
    {kMain, "图片按钮Ex4", E::Clicked, C::Minimise, 0},
    {kMain, "图片按钮Ex5", E::Clicked, C::CloseMain, 0},
    {kSettings, "", E::Created, C::SettingsCreated, 0},
    {kSettings, "窗口模式选择框", E::TickChanged, C::WindowModeChanged, 0},
    {kSettings, "分辨率组合框", E::ItemSelected, C::ResolutionSelected, 0},
    {kSettings, "游戏设置窗口关闭按钮", E::Clicked, C::CloseSettings, 0},
    {kPrompt, "提示窗口关闭按钮", E::Clicked, C::ClosePrompt, 0},
};
}  // namespace

std::span<const EventBinding> EventBindings() { return kBindings; }

}  // namespace app
