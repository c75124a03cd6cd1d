#include "ui/headless_backend.h"

#include <chrono>

namespace ui {

bool HeadlessBackend::CreateWindowFor(WindowId, bool) { return !failCreate; }

void HeadlessBackend::PropertyChanged(WindowId id, const ControlState& c, Prop p) {
  writes.push_back({id, std::string(c.design->name), p});
}

void HeadlessBackend::Wake() {
  std::lock_guard lock(wakeMutex_);
  woken_ = true;
  wakeCv_.notify_all();
}

void HeadlessBackend::Pump(bool wait) {
  std::unique_lock lock(wakeMutex_);
  if (wait && !woken_) wakeCv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return woken_; });
  woken_ = false;
}

bool HeadlessBackend::Usable(WindowId w, std::string_view name, const ControlState*& c) const {
  c = ui_->Control(w, name);
  return c && c->visible && !c->disabled;
}

bool HeadlessBackend::Click(WindowId w, std::string_view name) {
  const ControlState* c;
  if (!Usable(w, name, c)) return false;
  ui_->Raise(w, name, Event::Clicked);
  return true;
}

bool HeadlessBackend::Tick(WindowId w, std::string_view name) {
  const ControlState* c;
  if (!Usable(w, name, c) || c->design->kind != Kind::CheckBoxEx) return false;
  bool now = !c->checked;
  ui_->SetChecked(w, name, now);
  ui_->Raise(w, name, Event::TickChanged, now ? 1 : 0);
  return true;
}

bool HeadlessBackend::Select(WindowId w, std::string_view name, int index) {
  const ControlState* c;
  if (!Usable(w, name, c) || c->design->kind != Kind::ComboBoxEx) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  ui_->SetSelectedItem(w, name, index);
  ui_->Raise(w, name, Event::ItemSelected, index);
  return true;
}

bool HeadlessBackend::TimerTick(WindowId w, std::string_view name) {
  const ControlState* c = ui_->Control(w, name);
  if (!c || c->design->kind != Kind::Timer || c->interval <= 0) return false;
  ui_->Raise(w, name, Event::TimerTick);
  return true;
}

}  // namespace ui
