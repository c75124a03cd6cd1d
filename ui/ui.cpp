#include "ui/ui.h"

#include "ui/designs.h"

namespace ui {

bool Dispatcher::Post(std::function<void()> work) {
  // Wake under the lock: once Close has returned, no poster can reach a
  // backend that is being torn down.
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  queue_.push_back(std::move(work));
  backend_->Wake();
  return true;
}

void Dispatcher::Close() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard lock(mutex_);
  closed_ = true;
  dropped.swap(queue_);
}

bool Dispatcher::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::vector<std::function<void()>> Dispatcher::TakeAll() {
  std::lock_guard lock(mutex_);
  std::vector<std::function<void()>> out(std::make_move_iterator(queue_.begin()),
                                         std::make_move_iterator(queue_.end()));
  queue_.clear();
  return out;
}

Ui::Ui(Backend& backend, platform::Clock& clock)
    : backend_(backend), clock_(clock), dispatcher_(new Dispatcher(&backend)) { backend_.Attach(*this); }

Ui::~Ui() { dispatcher_->Close(); }

bool Ui::LoadWindow(WindowId id, bool modal) {
  WindowState_& w = windows_[static_cast<int>(id)];
  if (w.open) {
    backend_.BringToFront(id);
    return true;
  }
  w.controls.clear();
  for (const ControlSpec& design : DesignOf(id).controls) {
    ControlState c;
    c.design = &design;
    c.text = std::string(design.text);
    if (design.kind == Kind::ComboBoxEx) {
      for (std::string_view item : ResolutionList()) c.items.emplace_back(item);
    }
    if (design.kind == Kind::ProgressBarEx) c.maximum = 100;
    w.controls.push_back(std::move(c));
  }
  w.state = kWindowNormal;
  w.modal = modal;
  if (!backend_.CreateWindowFor(id, modal)) {
    w.controls.clear();
    return false;
  }
  w.open = true;
  Raise(id, "", Event::Created);
  if (!w.open) return true;  // the created handler closed it at once
  backend_.ShowWindowFor(id);
  if (modal) backend_.RunModal(id);
  return true;
}

void Ui::CloseWindow(WindowId id) {
  // After the current handler: the closure runs from the loop.
  std::shared_ptr<Dispatcher> d = dispatcher_;
  if (!d->Post([this, id] { DoClose(id); })) DoClose(id);
}

void Ui::DoClose(WindowId id) {
  WindowState_& w = windows_[static_cast<int>(id)];
  if (!w.open) return;
  Raise(id, "", Event::Destroying);
  backend_.DestroyWindowFor(id);
  w.open = false;
  w.modal = false;
  if (id == WindowId::Main) {
    // The launcher ends with its main window: secondary windows go too and
    // engine threads' late posts are dropped.
    for (WindowId other : {WindowId::Settings, WindowId::Prompt}) {
      WindowState_& o = windows_[static_cast<int>(other)];
      if (o.open) {
        backend_.DestroyWindowFor(other);
        o.open = false;
      }
    }
    dispatcher_->Close();
  }
}

bool Ui::IsOpen(WindowId id) const { return windows_[static_cast<int>(id)].open; }
bool Ui::IsModal(WindowId id) const { return windows_[static_cast<int>(id)].modal; }

bool Ui::AnyWindowOpen() const {
  for (const auto& w : windows_)
    if (w.open) return true;
  return false;
}

ControlState* Ui::Find(WindowId id, std::string_view name) {
  WindowState_& w = windows_[static_cast<int>(id)];
  if (!w.open) return nullptr;
  for (ControlState& c : w.controls)
    if (c.design->name == name) return &c;
  return nullptr;
}

const ControlState* Ui::Control(WindowId id, std::string_view name) const {
  return const_cast<Ui*>(this)->Find(id, name);
}

std::vector<const ControlState*> Ui::Controls(WindowId id) const {
  std::vector<const ControlState*> out;
  for (const ControlState& c : windows_[static_cast<int>(id)].controls) out.push_back(&c);
  return out;
}

void Ui::Changed(WindowId w, ControlState& c, Prop p) { backend_.PropertyChanged(w, c, p); }

void Ui::SetVisible(WindowId w, std::string_view name, bool v) {
  if (ControlState* c = Find(w, name)) {
    c->visible = v;
    Changed(w, *c, Prop::Visible);
  }
}

void Ui::SetDisabled(WindowId w, std::string_view name, bool v) {
  if (ControlState* c = Find(w, name)) {
    c->disabled = v;
    Changed(w, *c, Prop::Disabled);
  }
}

void Ui::SetSelectedLook(WindowId w, std::string_view name, bool v) {
  if (ControlState* c = Find(w, name)) {
    c->selectedLook = v;
    Changed(w, *c, Prop::SelectedLook);
  }
}

void Ui::SetText(WindowId w, std::string_view name, std::string_view text) {
  if (ControlState* c = Find(w, name)) {
    c->text = std::string(text);
    Changed(w, *c, Prop::Text);
  }
}

void Ui::SetPicture(WindowId w, std::string_view name, std::vector<std::uint8_t> bytes) {
  if (ControlState* c = Find(w, name)) {
    c->picture = std::move(bytes);
    Changed(w, *c, Prop::Picture);
  }
}

void Ui::SetPosition(WindowId w, std::string_view name, std::int64_t v) {
  if (ControlState* c = Find(w, name)) {
    c->position = v;
    Changed(w, *c, Prop::Position);
  }
}

void Ui::SetMaximum(WindowId w, std::string_view name, std::int64_t v) {
  if (ControlState* c = Find(w, name)) {
    c->maximum = v;
    Changed(w, *c, Prop::Maximum);
  }
}

void Ui::SetChecked(WindowId w, std::string_view name, bool v) {
  if (ControlState* c = Find(w, name)) {
    c->checked = v;
    Changed(w, *c, Prop::Checked);
  }
}

void Ui::SetSelectedItem(WindowId w, std::string_view name, int index) {
  if (ControlState* c = Find(w, name)) {
    if (index < -1 || index >= static_cast<int>(c->items.size())) return;
    c->selectedItem = index;
    c->text = index >= 0 ? c->items[static_cast<size_t>(index)] : std::string();
    Changed(w, *c, Prop::SelectedItem);
  }
}

void Ui::SetInterval(WindowId w, std::string_view name, int ms) {
  if (ControlState* c = Find(w, name)) {
    c->interval = ms < 0 ? 0 : ms;
    Changed(w, *c, Prop::Interval);
  }
}

void Ui::LoadWebPage(WindowId w, std::string_view name, std::string_view address) {
  if (ControlState* c = Find(w, name)) {
    c->address = std::string(address);
    c->page = c->address.empty() ? PageState::Blank : PageState::Loading;
    c->autoRetries = 0;
    Changed(w, *c, Prop::Address);
    Changed(w, *c, Prop::Page);
  }
}

void Ui::PageLoaded(WindowId w, std::string_view name) {
  ControlState* c = Find(w, name);
  if (!c || c->design->kind != Kind::WebBrowserEx || c->page != PageState::Loading) return;
  c->page = PageState::Shown;
  Changed(w, *c, Prop::Page);
}

void Ui::PageFailed(WindowId w, std::string_view name) {
  ControlState* c = Find(w, name);
  // A shown page can fail too: a link on the announcement's own host.
  if (!c || c->design->kind != Kind::WebBrowserEx ||
      (c->page != PageState::Loading && c->page != PageState::Shown))
    return;
  c->page = PageState::Offline;
  c->failedAt = clock_.TickCount();
  Changed(w, *c, Prop::Page);
}

void Ui::Reload(WindowId w, ControlState& c) {
  c.page = PageState::Loading;
  Changed(w, c, Prop::Address);
  Changed(w, c, Prop::Page);
}

void Ui::RetryPage(WindowId w, std::string_view name) {
  ControlState* c = Find(w, name);
  if (!c || c->page != PageState::Offline) return;
  Reload(w, *c);
}

void Ui::CheckOfflinePages(bool networkUp) {
  bool back = networkUp && !networkUp_;
  networkUp_ = networkUp;
  std::uint32_t now = clock_.TickCount();
  for (int i = 0; i < kWindowCount; ++i) {
    if (!windows_[i].open) continue;
    for (ControlState& c : windows_[i].controls) {
      if (c.page != PageState::Offline || c.autoRetries >= kPageAutoRetries) continue;
      if (back || (networkUp && platform::TicksBetween(c.failedAt, now) >= kPageRetryMs)) {
        ++c.autoRetries;
        Reload(static_cast<WindowId>(i), c);
      }
    }
  }
}

bool Ui::PagesAwaitingRetry() const {
  for (const WindowState_& w : windows_) {
    if (!w.open) continue;
    for (const ControlState& c : w.controls)
      if (c.page == PageState::Offline && c.autoRetries < kPageAutoRetries) return true;
  }
  return false;
}

void Ui::Redraw(WindowId w, std::string_view name) {
  if (ControlState* c = Find(w, name)) Changed(w, *c, Prop::Picture);
}

void Ui::SetWindowState(WindowId w, int state) {
  WindowState_& ws = windows_[static_cast<int>(w)];
  if (!ws.open) return;
  ws.state = state;
  backend_.WindowStateChanged(w, state);
}

int Ui::WindowState(WindowId w) const { return windows_[static_cast<int>(w)].state; }

void Ui::SetTaskbarProgress(WindowId w, const TaskbarProgress& progress) {
  WindowState_& ws = windows_[static_cast<int>(w)];
  if (!ws.open || ws.taskbar == progress) return;
  ws.taskbar = progress;
  backend_.TaskbarProgressChanged(w, progress);
}

int Ui::ItemCount(WindowId w, std::string_view name) const {
  const ControlState* c = Control(w, name);
  return c ? static_cast<int>(c->items.size()) : 0;
}

std::string Ui::ItemTitle(WindowId w, std::string_view name, int index) const {
  const ControlState* c = Control(w, name);
  if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<size_t>(index)];
}

void Ui::Bind(WindowId w, std::string_view control, Event event, Handler handler) {
  handlers_[{static_cast<int>(w), std::string(control), static_cast<int>(event)}] = std::move(handler);
}

void Ui::Raise(WindowId w, std::string_view control, Event event, int arg) {
  auto it = handlers_.find(std::make_tuple(static_cast<int>(w), std::string(control), static_cast<int>(event)));
  if (it == handlers_.end()) return;
  Handler h = it->second;  // a handler may rebind
  h(arg);
}

std::size_t Ui::RunPosted() {
  std::vector<std::function<void()>> work = dispatcher_->TakeAll();
  for (auto& w : work) w();
  return work.size();
}

void Ui::ProcessEvents() {
  backend_.Pump(false);
  RunPosted();
}

void Ui::Run() {
  RunPosted();
  while (AnyWindowOpen()) {
    backend_.Pump(true);
    RunPosted();
  }
}

}  // namespace ui
