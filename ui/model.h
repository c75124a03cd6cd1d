// The control model: what the three windows hold, independent of how they are
// drawn. The window thread owns all of it.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

enum class Kind : std::uint8_t {
  WindowEx,       // window skin and frame
  PictureBoxEx,
  LabelEx,
  ImageButtonEx,  // normal, hover, pressed, selected and disabled looks
  CheckBoxEx,
  ProgressBarEx,
  ComboBoxEx,
  WebBrowserEx,
  Timer,
};

enum class WindowId : std::uint8_t { Main, Settings, Prompt };
inline constexpr int kWindowCount = 3;

enum class Event : std::uint8_t {
  Created,       // the window: after its controls exist, before it shows
  Destroying,    // the window: about to be destroyed
  Clicked,       // buttons
  TickChanged,   // check box; argument: the new state (1 ticked)
  ItemSelected,  // combo box; argument: the item index
  TimerTick,     // timer
};

// Typed properties a control carries.
enum class Prop : std::uint8_t {
  Visible,
  Disabled,
  SelectedLook,
  Text,
  Picture,       // bytes of an image file
  Position,
  Maximum,
  Checked,
  SelectedItem,
  Interval,      // timer, ms; 0 stops it
  Address,       // web page shown by a WebBrowserEx
  Page,          // how that page's load went (PageState)
};

// What a WebBrowserEx shows.
enum class PageState : std::uint8_t {
  Blank,    // no address
  Loading,  // asked for; nothing known yet
  Shown,    // the page arrived
  Offline,  // it failed: the panel's own offline view, the address and a retry link
};

// An offline page is tried again after this long, or at once when the
// network comes back, at most kPageAutoRetries times for one address.
inline constexpr std::uint32_t kPageRetryMs = 30000;
inline constexpr int kPageAutoRetries = 3;

// The look a control is drawn with. The design carries it, so renaming a
// control cannot change how it looks. None: kinds with a single look
// (windows, check and combo boxes, progress bars, browsers, timers).
enum class Role : std::uint8_t {
  None,
  // buttons
  Button,  // plain, no text
  LinkButton,
  Minimise,
  Close,
  DialogClose,
  Version1,
  Version2,
  Version3,
  Version4,
  StartButton,
  InstallButton,
  // pictures
  Picture,  // plain
  Logo,
  Separator,
  Background,
  Banner,
  Decoration,
  ServerPanel,
  // labels
  Label,  // plain text
  AgeNotice,
  NoticeTitle,
  NoticeLine,
  ServerCaption,
  LastLogin,
  ProgressText,
};

struct Rect {
  int x, y, w, h;
};

struct ControlSpec {
  std::string_view name;
  Kind kind;
  Rect rect;                    // relative to the container (or the window)
  std::string_view container;   // empty: the window itself
  std::string_view text;        // design text
  std::string_view font;        // empty: the default face
  Role role;
};

struct WindowSpec {
  WindowId id;
  std::string_view title;
  int x, y;  // design position
  int width, height;
  std::span<const ControlSpec> controls;
};

struct ControlState {
  const ControlSpec* design = nullptr;
  bool visible = true;
  bool disabled = false;
  bool selectedLook = false;
  bool checked = false;
  std::string text;
  std::vector<std::uint8_t> picture;  // empty: the design artwork
  std::int64_t position = 0;
  std::int64_t maximum = 100;
  int selectedItem = -1;
  std::vector<std::string> items;
  int interval = 0;
  std::string address;
  PageState page = PageState::Blank;
  int autoRetries = 0;          // automatic retries of this address so far
  std::uint32_t failedAt = 0;   // tick count of the last failure
};

enum WindowShowState : int { kWindowNormal = 0, kWindowMinimised = 2 };

// The window's button on the taskbar: a progress bar in the colour of how
// the work goes. Nothing in the window changes for it.
enum class TaskbarState : std::uint8_t { None, Normal, Paused, Error };
struct TaskbarProgress {
  TaskbarState state = TaskbarState::None;
  std::int64_t done = 0, total = 0;
  bool operator==(const TaskbarProgress&) const = default;
};

}  // namespace ui
