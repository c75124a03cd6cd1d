// A backend without a screen: it records every property write and lets tests
// act as the player (click, tick, select, timer ticks).
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/ui.h"

namespace ui {

class HeadlessBackend final : public Backend {
 public:
  struct Write {
    WindowId window;
    std::string control;
    Prop prop;
  };

  void Attach(Ui& ui) override { ui_ = &ui; }
  bool CreateWindowFor(WindowId id, bool modal) override;
  void ShowWindowFor(WindowId) override {}
  void RunModal(WindowId id) override { modalOpened.push_back(id); }
  void DestroyWindowFor(WindowId) override {}
  void BringToFront(WindowId id) override { broughtToFront.push_back(id); }
  void PropertyChanged(WindowId id, const ControlState& c, Prop p) override;
  void WindowStateChanged(WindowId, int) override {}
  void TaskbarProgressChanged(WindowId, const TaskbarProgress&) override {}
  void Wake() override;
  void Pump(bool wait) override;

  // The player's actions. Each returns false when the control could not take
  // it (closed window, unknown, hidden or disabled control).
  bool Click(WindowId w, std::string_view name);
  bool Tick(WindowId w, std::string_view name);  // toggles a check box
  bool Select(WindowId w, std::string_view name, int index);
  bool TimerTick(WindowId w, std::string_view name);

  // Runs posted work until pred() holds or timeoutMs passes.
  template <typename Pred>
  bool RunUntil(Pred pred, int timeoutMs);

  std::vector<Write> writes;
  std::vector<WindowId> modalOpened;
  std::vector<WindowId> broughtToFront;
  // A test can make window creation fail.
  bool failCreate = false;

 private:
  bool Usable(WindowId w, std::string_view name, const ControlState*& c) const;
  Ui* ui_ = nullptr;
  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  bool woken_ = false;
};

template <typename Pred>
bool HeadlessBackend::RunUntil(Pred pred, int timeoutMs) {
  int waited = 0;
  while (!pred()) {
    if (waited >= timeoutMs) return false;
    Pump(true);
    ui_->RunPosted();
    waited += 10;
  }
  return true;
}

}  // namespace ui
