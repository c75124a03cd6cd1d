#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "ui/win32/artwork.h"
#include "ui/win32/gdip.h"
#include "ui/window_backend.h"
#include "ui/designs.h"
#include "ui/ui.h"

namespace {

using ui::WindowId;

std::vector<std::uint8_t> Bmp2x2() {
  // 24-bit bottom-up bitmap, rows padded to 4 bytes.
  std::vector<std::uint8_t> b = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0,
                                 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0};
  for (int row = 0; row < 2; ++row) {
    for (int px = 0; px < 2; ++px) b.insert(b.end(), {0x00, 0x00, 0xFF});  // red
    b.insert(b.end(), {0, 0});
  }
  return b;
}

TEST(Win32Pictures, DecodesBytesAndRejectsJunk) {
  auto bmp = ui::win32::DecodePicture(Bmp2x2());
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->GetWidth(), 2u);
  Gdiplus::Color c;
  bmp->GetPixel(1, 1, &c);
  EXPECT_EQ(c.GetR(), 255);
  EXPECT_EQ(c.GetB(), 0);
  std::vector<std::uint8_t> junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  EXPECT_EQ(ui::win32::DecodePicture(junk), nullptr);
  std::vector<std::uint8_t> cut = Bmp2x2();
  cut.resize(30);
  EXPECT_EQ(ui::win32::DecodePicture(cut), nullptr);
  EXPECT_EQ(ui::win32::DecodePicture({}), nullptr);
}

TEST(Win32Artwork, EveryButtonAndPictureOfTheDesignsHasItsOwnArt) {
  // Every role the designs use maps to a look of its own, never the plain one.
  using ui::win32::Art;
  int versions = 0, starts = 0, installs = 0, links = 0;
  std::set<int> versionIndices;
  for (WindowId id : {WindowId::Main, WindowId::Settings, WindowId::Prompt}) {
    for (const ui::ControlSpec& c : ui::DesignOf(id).controls) {
      Art art = ui::win32::ArtFor(c.role);
      if (c.kind == ui::Kind::ImageButtonEx || c.kind == ui::Kind::PictureBoxEx) {
        EXPECT_NE(art, Art::None) << c.name;
        EXPECT_NE(art, Art::Button) << c.name;
        EXPECT_NE(art, Art::Picture) << c.name;
      }
      if (c.kind == ui::Kind::LabelEx) EXPECT_EQ(art, Art::None) << c.name;
      if (art == Art::VersionButton) versionIndices.insert(ui::win32::VersionIndex(c.role));
      versions += art == Art::VersionButton;
      starts += art == Art::StartButton;
      installs += art == Art::InstallButton;
      links += art == Art::LinkButton;
    }
  }
  EXPECT_EQ(versions, 4);
  EXPECT_EQ(versionIndices, (std::set<int>{1, 2, 3, 4}));
  EXPECT_EQ(starts, 4);
  EXPECT_EQ(installs, 4);
  EXPECT_EQ(links, 5);
}

TEST(Win32Artwork, LabelRolesKeepTheirOwnStyles) {
  // The styled labels must not fall back to the plain label's text.
  using R = ui::Role;
  auto plain = ui::win32::LabelStyleFor(R::Label);
  for (R role : {R::AgeNotice, R::NoticeTitle, R::NoticeLine, R::ServerCaption, R::LastLogin, R::ProgressText}) {
    auto s = ui::win32::LabelStyleFor(role);
    EXPECT_TRUE(s.size != plain.size || s.style != plain.style || s.colour != plain.colour)
        << static_cast<int>(role);
  }
}

class Win32Ui : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = ui::CreateWindowBackend();
    view = std::make_unique<ui::Ui>(*backend);
  }
  void TearDown() override {
    view.reset();
    backend.reset();
  }
  std::unique_ptr<ui::Backend> backend;
  std::unique_ptr<ui::Ui> view;
};

TEST_F(Win32Ui, PostFromAnotherThreadWakesABlockingPump) {
  std::atomic<bool> ran{false}, gaveUp{false}, done{false};
  DWORD self = ::GetCurrentThreadId();
  auto d = view->dispatcher();
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    d->Post([&] { ran = true; });
  });
  // Should the wake-up be lost, this unblocks the loop so the test fails
  // instead of hanging.
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!done) {
      gaveUp = true;
      ::PostThreadMessageW(self, WM_NULL, 0, 0);
    }
  });
  while (!ran && !gaveUp) backend->Pump(true);
  done = true;
  poster.join();
  watchdog.join();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(gaveUp);
}

TEST_F(Win32Ui, ModalWindowDisablesTheOthersUntilItCloses) {
  if (!view->LoadWindow(WindowId::Main, false)) GTEST_SKIP() << "no window station (no display)";
  HWND main = ::FindWindowW(L"TarnwickSkinWindow", nullptr);
  ASSERT_NE(main, nullptr);
  RECT r;
  ::GetWindowRect(main, &r);
  EXPECT_LE(r.right - r.left, 1334 * 2);
  bool disabledDuringModal = false;
  auto d = view->dispatcher();
  view->Bind(WindowId::Prompt, "", ui::Event::Created, [&](int) {
    // Runs inside the nested loop once the prompt shows.
    std::thread([&, d] {
      d->Post([&] {
        disabledDuringModal = !::IsWindowEnabled(main);
        view->CloseWindow(WindowId::Prompt);
      });
    }).detach();
  });
  ASSERT_TRUE(view->LoadWindow(WindowId::Prompt, true));  // returns once closed
  EXPECT_FALSE(view->IsOpen(WindowId::Prompt));
  EXPECT_TRUE(disabledDuringModal);
  EXPECT_TRUE(::IsWindowEnabled(main));
  view->CloseWindow(WindowId::Main);
  view->ProcessEvents();
  EXPECT_FALSE(view->AnyWindowOpen());
  EXPECT_FALSE(::IsWindow(main));
}

}  // namespace

