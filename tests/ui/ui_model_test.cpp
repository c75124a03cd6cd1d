#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "support/download_support.h"
#include "ui/designs.h"
#include "ui/headless_backend.h"
#include "ui/ui.h"

namespace {
using ui::Event;
using ui::Kind;
using ui::WindowId;

TEST(Designs, WindowsHaveTheirSizesAndUniqueNames) {
  EXPECT_EQ(ui::DesignOf(WindowId::Main).width, 1334);
  EXPECT_EQ(ui::DesignOf(WindowId::Main).height, 687);
  EXPECT_EQ(ui::DesignOf(WindowId::Settings).width, 500);
  EXPECT_EQ(ui::DesignOf(WindowId::Settings).height, 280);
  EXPECT_EQ(ui::DesignOf(WindowId::Prompt).width, 354);
  EXPECT_EQ(ui::DesignOf(WindowId::Prompt).height, 180);
  for (WindowId id : {WindowId::Main, WindowId::Settings, WindowId::Prompt}) {
    std::set<std::string_view> names;
    for (const auto& c : ui::DesignOf(id).controls) {
      EXPECT_TRUE(names.insert(c.name).second) << c.name;
      if (!c.container.empty()) {
        EXPECT_NE(ui::FindSpec(id, c.container), nullptr) << c.name;
      }
    }
    EXPECT_EQ(ui::DesignOf(id).x, 50);
    EXPECT_EQ(ui::DesignOf(id).y, 50);
  }
  EXPECT_EQ(ui::DesignOf(WindowId::Main).controls.size(), 38u);
  EXPECT_EQ(ui::DesignOf(WindowId::Settings).controls.size(), 6u);
  EXPECT_EQ(ui::DesignOf(WindowId::Prompt).controls.size(), 3u);
}

TEST(Designs, SpotChecksAgainstTheDesign) {
  auto* bg = ui::FindSpec(WindowId::Main, "图片框Ex3");
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(bg->rect.x, 206);
  EXPECT_EQ(bg->rect.y, -2);
  EXPECT_EQ(bg->rect.w, 1130);
  auto* caption = ui::FindSpec(WindowId::Main, "标签Ex2");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->container, "图片框Ex1");
  EXPECT_EQ(caption->text, "最近登陆:");
  EXPECT_EQ(caption->font, "黑体");
  EXPECT_EQ(ui::FindSpec(WindowId::Main, "时钟1")->kind, Kind::Timer);
  EXPECT_EQ(ui::FindSpec(WindowId::Main, "开始游戏按钮_Tavor")->rect.y, 587);
  EXPECT_EQ(ui::FindSpec(WindowId::Prompt, "标签Ex1")->text, "此游戏还未上架");
  auto res = ui::ResolutionList();
  ASSERT_EQ(res.size(), 10u);
  EXPECT_EQ(res[2], "1024×768");
  EXPECT_EQ(res[2].substr(4, 2), "\xC3\x97");  // U+00D7, not the letter x
}

TEST(Designs, EveryControlCarriesTheLookOfItsKind) {
  // The renderer draws from the role alone: a forgotten or misplaced entry
  // would give a control the wrong or the plain look.
  using R = ui::Role;
  const std::set<R> buttons = {R::LinkButton, R::Minimise,   R::Close,       R::DialogClose,  R::Version1,
                               R::Version2,   R::Version3,   R::Version4,    R::StartButton,  R::InstallButton};
  const std::set<R> pictures = {R::Logo, R::Separator, R::Background, R::Banner, R::Decoration, R::ServerPanel};
  const std::set<R> labels = {R::Label,         R::AgeNotice, R::NoticeTitle, R::NoticeLine,
                              R::ServerCaption, R::LastLogin, R::ProgressText};
  std::map<R, int> uses;
  for (WindowId id : {WindowId::Main, WindowId::Settings, WindowId::Prompt}) {
    for (const auto& c : ui::DesignOf(id).controls) {
      switch (c.kind) {
        case Kind::ImageButtonEx: EXPECT_TRUE(buttons.count(c.role)) << c.name; break;
        case Kind::PictureBoxEx: EXPECT_TRUE(pictures.count(c.role)) << c.name; break;
        case Kind::LabelEx: EXPECT_TRUE(labels.count(c.role)) << c.name; break;
        default: EXPECT_EQ(c.role, R::None) << c.name; break;
      }
      ++uses[c.role];
    }
  }
  const std::pair<R, int> expected[] = {
      {R::LinkButton, 5},  {R::Minimise, 1},    {R::Close, 1},         {R::DialogClose, 2},   {R::Version1, 1},
      {R::Version2, 1},    {R::Version3, 1},    {R::Version4, 1},      {R::StartButton, 4},   {R::InstallButton, 4},
      {R::Logo, 1},        {R::Separator, 3},   {R::Background, 1},    {R::Banner, 1},        {R::Decoration, 1},
      {R::ServerPanel, 1}, {R::Label, 3},       {R::AgeNotice, 1},     {R::NoticeTitle, 1},   {R::NoticeLine, 2},
      {R::ServerCaption, 1}, {R::LastLogin, 1}, {R::ProgressText, 1},  {R::None, 8},
  };
  for (auto [role, count] : expected) EXPECT_EQ(uses[role], count) << static_cast<int>(role);
  // Same name, different looks: the caption on the server panel and the settings label.
  EXPECT_EQ(ui::FindSpec(WindowId::Main, "标签Ex2")->role, R::ServerCaption);
  EXPECT_EQ(ui::FindSpec(WindowId::Settings, "标签Ex2")->role, R::Label);
}

class HeadlessUi : public ::testing::Test {
 protected:
  ui::HeadlessBackend backend;
  ui::Ui ui{backend};
};

TEST_F(HeadlessUi, CreatedRunsBeforeShowAndPropertiesReadBack) {
  bool created = false;
  ui.Bind(WindowId::Main, "", Event::Created, [&](int) {
    created = true;
    ui.SetText(WindowId::Main, "适龄提示标签", "x");
  });
  ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
  EXPECT_TRUE(created);
  EXPECT_EQ(ui.Control(WindowId::Main, "适龄提示标签")->text, "x");
  EXPECT_EQ(ui.Control(WindowId::Main, "公告标签1")->text, "健康游戏公告");
  ui.SetVisible(WindowId::Main, "进度条Ex1", false);
  ui.SetMaximum(WindowId::Main, "进度条Ex1", 10000);
  ui.SetPosition(WindowId::Main, "进度条Ex1", 4470);
  const auto* bar = ui.Control(WindowId::Main, "进度条Ex1");
  EXPECT_FALSE(bar->visible);
  EXPECT_EQ(bar->position, 4470);
  EXPECT_EQ(bar->maximum, 10000);
  ASSERT_FALSE(backend.writes.empty());
  EXPECT_EQ(backend.writes.back().control, "进度条Ex1");
  EXPECT_EQ(backend.writes.back().prop, ui::Prop::Position);
  ui.SetText(WindowId::Main, "no such control", "ignored");  // no crash, no write
  EXPECT_EQ(backend.writes.back().prop, ui::Prop::Position);
}

TEST_F(HeadlessUi, ClicksReachHandlersOnlyOnUsableControls) {
  int clicks = 0;
  ui.Bind(WindowId::Main, "版本一按钮", Event::Clicked, [&](int) { ++clicks; });
  ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
  EXPECT_TRUE(backend.Click(WindowId::Main, "版本一按钮"));
  ui.SetDisabled(WindowId::Main, "版本一按钮", true);
  EXPECT_FALSE(backend.Click(WindowId::Main, "版本一按钮"));
  ui.SetDisabled(WindowId::Main, "版本一按钮", false);
  ui.SetVisible(WindowId::Main, "版本一按钮", false);
  EXPECT_FALSE(backend.Click(WindowId::Main, "版本一按钮"));
  EXPECT_EQ(clicks, 1);
}

TEST_F(HeadlessUi, SettingsControlsRaiseTheirEvents) {
  int tick = -1, item = -1;
  ui.Bind(WindowId::Settings, "窗口模式选择框", Event::TickChanged, [&](int s) { tick = s; });
  ui.Bind(WindowId::Settings, "分辨率组合框", Event::ItemSelected, [&](int i) { item = i; });
  ASSERT_TRUE(ui.LoadWindow(WindowId::Settings, false));
  EXPECT_EQ(ui.ItemCount(WindowId::Settings, "分辨率组合框"), 10);
  EXPECT_EQ(ui.ItemTitle(WindowId::Settings, "分辨率组合框", 9), "1280×1024");
  EXPECT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  EXPECT_EQ(tick, 1);
  EXPECT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 9));
  EXPECT_EQ(item, 9);
  EXPECT_EQ(ui.Control(WindowId::Settings, "分辨率组合框")->selectedItem, 9);
  EXPECT_FALSE(backend.Select(WindowId::Settings, "分辨率组合框", 10));
}

TEST_F(HeadlessUi, CloseTakesEffectAfterTheHandlerAndEndsTheLoop) {
  bool destroying = false;
  ui.Bind(WindowId::Main, "", Event::Destroying, [&](int) { destroying = true; });
  ui.Bind(WindowId::Main, "图片按钮Ex5", Event::Clicked, [&](int) {
    ui.CloseWindow(WindowId::Main);
    EXPECT_TRUE(ui.IsOpen(WindowId::Main));  // still open inside the handler
  });
  ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
  ASSERT_TRUE(ui.LoadWindow(WindowId::Settings, false));
  backend.Click(WindowId::Main, "图片按钮Ex5");
  ui.Run();  // returns once no window is left
  EXPECT_TRUE(destroying);
  EXPECT_FALSE(ui.AnyWindowOpen());
}

TEST_F(HeadlessUi, SecondLoadBringsTheOpenWindowToFront) {
  int created = 0;
  ui.Bind(WindowId::Settings, "", Event::Created, [&](int) { ++created; });
  ASSERT_TRUE(ui.LoadWindow(WindowId::Settings, false));
  ui.SetChecked(WindowId::Settings, "窗口模式选择框", true);
  ASSERT_TRUE(ui.LoadWindow(WindowId::Settings, false));
  EXPECT_EQ(created, 1);
  EXPECT_TRUE(ui.Control(WindowId::Settings, "窗口模式选择框")->checked);
  ASSERT_EQ(backend.broughtToFront.size(), 1u);
}

TEST_F(HeadlessUi, PostedWorkRunsOnTheWindowThreadAndIsDroppedAfterClose) {
  ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
  auto dispatcher = ui.dispatcher();
  std::thread::id ranOn;
  std::thread poster([&] { EXPECT_TRUE(dispatcher->Post([&] { ranOn = std::this_thread::get_id(); })); });
  poster.join();
  EXPECT_TRUE(backend.RunUntil([&] { return ranOn != std::thread::id(); }, 2000));
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  ui.CloseWindow(WindowId::Main);
  ui.ProcessEvents();
  EXPECT_FALSE(ui.IsOpen(WindowId::Main));
  std::atomic<bool> ran{false};
  std::thread late([&] { EXPECT_FALSE(dispatcher->Post([&] { ran = true; })); });
  late.join();
  ui.ProcessEvents();
  EXPECT_FALSE(ran);
}

TEST_F(HeadlessUi, FailedCreationLeavesNoWindow) {
  backend.failCreate = true;
  EXPECT_FALSE(ui.LoadWindow(WindowId::Prompt, true));
  EXPECT_FALSE(ui.IsOpen(WindowId::Prompt));
}

// The announcement panel's offline view and its retries, on a clock the
// test moves.
class OfflinePanel : public ::testing::Test {
 protected:
  void SetUp() override {
    clock.Set(0xFFFF0000u);  // the tick count wraps during the test
    ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
    ui.LoadWebPage(WindowId::Main, kPanel, "http://news.good.com/");
  }
  const ui::ControlState& Panel() { return *ui.Control(WindowId::Main, kPanel); }
  void Advance(std::uint32_t ms) { clock.Set(clock.TickCount() + ms); }
  int Loads() {
    int n = 0;
    for (const auto& w : backend.writes) n += w.control == kPanel && w.prop == ui::Prop::Address;
    return n;
  }
  static constexpr std::string_view kPanel = "浏览框Ex1";
  testing_support::ManualClock clock;
  ui::HeadlessBackend backend;
  ui::Ui ui{backend, clock};
};

TEST_F(OfflinePanel, FailureShowsTheOfflineViewAndRetriesAfterThirtySeconds) {
  EXPECT_EQ(Panel().page, ui::PageState::Loading);
  ui.PageFailed(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  EXPECT_EQ(backend.writes.back().prop, ui::Prop::Page);
  EXPECT_TRUE(ui.PagesAwaitingRetry());
  int loads = Loads();
  Advance(ui::kPageRetryMs - 1);
  ui.CheckOfflinePages(true);
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  EXPECT_EQ(Loads(), loads);
  Advance(1);
  ui.CheckOfflinePages(true);
  EXPECT_EQ(Panel().page, ui::PageState::Loading);
  EXPECT_EQ(Loads(), loads + 1);
  EXPECT_EQ(Panel().address, "http://news.good.com/");
  ui.PageLoaded(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Shown);
  EXPECT_FALSE(ui.PagesAwaitingRetry());
}

TEST_F(OfflinePanel, NetworkBackRetriesAtOnceAndThreeAutomaticRetriesAtMost) {
  int loads = Loads();
  ui.PageFailed(WindowId::Main, kPanel);
  // No network: the 30 s pass without a retry that could only fail.
  ui.CheckOfflinePages(false);
  Advance(ui::kPageRetryMs * 3);
  ui.CheckOfflinePages(false);
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  Advance(1000);
  ui.CheckOfflinePages(true);  // back
  EXPECT_EQ(Panel().page, ui::PageState::Loading);
  EXPECT_EQ(Panel().autoRetries, 1);
  // Two more automatic retries, then the view stays with its retry link.
  for (int i = 2; i <= ui::kPageAutoRetries; ++i) {
    ui.PageFailed(WindowId::Main, kPanel);
    Advance(ui::kPageRetryMs);
    ui.CheckOfflinePages(true);
    EXPECT_EQ(Panel().page, ui::PageState::Loading) << i;
  }
  ui.PageFailed(WindowId::Main, kPanel);
  EXPECT_FALSE(ui.PagesAwaitingRetry());
  ui.CheckOfflinePages(false);
  for (int i = 0; i < 5; ++i) {
    Advance(ui::kPageRetryMs);
    ui.CheckOfflinePages(true);
  }
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  EXPECT_EQ(Loads(), loads + ui::kPageAutoRetries);
  // The retry link always works; another address starts a fresh count.
  ui.RetryPage(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Loading);
  EXPECT_EQ(Loads(), loads + ui::kPageAutoRetries + 1);
  ui.PageFailed(WindowId::Main, kPanel);
  ui.LoadWebPage(WindowId::Main, kPanel, "http://news.good.com/2.html");
  ui.PageFailed(WindowId::Main, kPanel);
  EXPECT_TRUE(ui.PagesAwaitingRetry());
  EXPECT_EQ(Panel().autoRetries, 0);
}

TEST_F(OfflinePanel, StaleReportsAndOtherControlsAreIgnored) {
  ui.PageLoaded(WindowId::Main, kPanel);
  ui.PageLoaded(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Shown);
  ui.RetryPage(WindowId::Main, kPanel);  // nothing to retry
  EXPECT_EQ(Panel().page, ui::PageState::Shown);
  // A link on the announcement's host that fails shows the view as well.
  ui.PageFailed(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  ui.PageLoaded(WindowId::Main, kPanel);  // late, from before the failure
  EXPECT_EQ(Panel().page, ui::PageState::Offline);
  ui.LoadWebPage(WindowId::Main, kPanel, "");
  EXPECT_EQ(Panel().page, ui::PageState::Blank);
  ui.PageFailed(WindowId::Main, kPanel);
  EXPECT_EQ(Panel().page, ui::PageState::Blank);
  ui.PageFailed(WindowId::Main, "版本一按钮");
  EXPECT_EQ(ui.Control(WindowId::Main, "版本一按钮")->page, ui::PageState::Blank);
  // A closed window retries nothing.
  ui.LoadWebPage(WindowId::Main, kPanel, "http://news.good.com/");
  ui.PageFailed(WindowId::Main, kPanel);
  ui.CloseWindow(WindowId::Main);
  ui.RunPosted();
  EXPECT_FALSE(ui.PagesAwaitingRetry());
}

}  // namespace
