// The window thread's view of the three windows: open and close them, read and
// write control properties, bind events, and run closures posted by engine
// threads.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "ui/backend.h"
#include "ui/model.h"

namespace ui {

// Hands closures to the window thread. Copies may live on engine threads
// after the windows are gone: posts are then dropped.
class Dispatcher {
 public:
  // False when the window thread no longer takes work.
  bool Post(std::function<void()> work);
  void Close();
  bool closed() const;

 private:
  friend class Ui;
  explicit Dispatcher(Backend* backend) : backend_(backend) {}
  std::vector<std::function<void()>> TakeAll();

  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  Backend* backend_;  // valid while not closed
  bool closed_ = false;
};

class Ui {
 public:
  using Handler = std::function<void(int arg)>;

  explicit Ui(Backend& backend, platform::Clock& clock = platform::SystemClock());
  ~Ui();
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

  // Creates and shows a window; its Created event runs before it shows. A
  // modal window blocks (in the Win32 backend) until it closes. A window that
  // is already open is brought to the front instead.
  bool LoadWindow(WindowId id, bool modal);
  // Closes after the current event handler has returned.
  void CloseWindow(WindowId id);
  bool IsOpen(WindowId id) const;
  bool IsModal(WindowId id) const;
  bool AnyWindowOpen() const;

  // Properties. Writes to an unknown control or a closed window are ignored.
  void SetVisible(WindowId w, std::string_view name, bool visible);
  void SetDisabled(WindowId w, std::string_view name, bool disabled);
  void SetSelectedLook(WindowId w, std::string_view name, bool selected);
  void SetText(WindowId w, std::string_view name, std::string_view text);
  void SetPicture(WindowId w, std::string_view name, std::vector<std::uint8_t> bytes);
  void SetPosition(WindowId w, std::string_view name, std::int64_t position);
  void SetMaximum(WindowId w, std::string_view name, std::int64_t maximum);
  void SetChecked(WindowId w, std::string_view name, bool checked);
  void SetSelectedItem(WindowId w, std::string_view name, int index);
  void SetInterval(WindowId w, std::string_view name, int ms);
  void LoadWebPage(WindowId w, std::string_view name, std::string_view address);
  // How the page's load ended, as the backend saw it. A failure shows the
  // offline view; a report that finds no load under way is stale and dropped.
  void PageLoaded(WindowId w, std::string_view name);
  void PageFailed(WindowId w, std::string_view name);
  // The offline view's retry link: loads the address again, however many
  // automatic retries are spent.
  void RetryPage(WindowId w, std::string_view name);
  // Window thread, about once a second while PagesAwaitingRetry(): an offline
  // page is retried when the network has come back since the last call, or
  // kPageRetryMs after it failed while the network is up.
  void CheckOfflinePages(bool networkUp);
  bool PagesAwaitingRetry() const;
  void Redraw(WindowId w, std::string_view name);
  void SetWindowState(WindowId w, int state);
  int WindowState(WindowId w) const;
  void SetTaskbarProgress(WindowId w, const TaskbarProgress& progress);
  const TaskbarProgress& Taskbar(WindowId w) const { return windows_[static_cast<int>(w)].taskbar; }

  // Read-back; nullptr for an unknown control.
  const ControlState* Control(WindowId w, std::string_view name) const;
  int ItemCount(WindowId w, std::string_view name) const;
  std::string ItemTitle(WindowId w, std::string_view name, int index) const;
  std::vector<const ControlState*> Controls(WindowId w) const;

  // control "" binds the window's own events.
  void Bind(WindowId w, std::string_view control, Event event, Handler handler);
  // Backends call this on input; it runs the bound handler, if any.
  void Raise(WindowId w, std::string_view control, Event event, int arg = 0);

  std::shared_ptr<Dispatcher> dispatcher() const { return dispatcher_; }
  // Window thread: native messages and posted work that is waiting.
  void ProcessEvents();
  // Window thread: until the last window has closed.
  void Run();
  // Runs posted work now (the backends call this from their loops); returns
  // how many closures ran.
  std::size_t RunPosted();

  Backend& backend() { return backend_; }

 private:
  struct WindowState_ {
    bool open = false;
    bool modal = false;
    int state = kWindowNormal;
    TaskbarProgress taskbar;
    std::vector<ControlState> controls;
  };
  ControlState* Find(WindowId w, std::string_view name);
  void Changed(WindowId w, ControlState& c, Prop p);
  void DoClose(WindowId id);
  void Reload(WindowId w, ControlState& c);

  Backend& backend_;
  platform::Clock& clock_;
  bool networkUp_ = true;
  std::shared_ptr<Dispatcher> dispatcher_;
  WindowState_ windows_[kWindowCount];
  std::map<std::tuple<int, std::string, int>, Handler, std::less<>> handlers_;
};

}  // namespace ui
