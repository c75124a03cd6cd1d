// What the announcement panel does with an address the page navigates to:
// the operator's own pages stay in the panel, other web pages open in the
// player's browser, and anything that could reach local files, other
// programs or other frames' scripts is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/clock.h"
#include "platform/names.h"

namespace ui {

enum class Navigation : unsigned char {
  Stay,    // load it in the panel
  Shell,   // cancel, and open it in the player's default browser
  Refuse,  // cancel, nothing opens
};

// Longer addresses are refused: the engine and the shell cut them anyway.
inline constexpr std::size_t kMaxAddressLength = platform::kMaxWebAddressLength;

// address: where the page goes; panelAddress: the announcement the panel was
// given. otherFrame: the navigation targets a frame or window other than the
// one it starts in (a new window, a named or parent frame), where a
// "javascript:" address would run script in someone else's document.
[[nodiscard]] Navigation DecideNavigation(std::string_view address, std::string_view panelAddress,
                                          bool otherFrame = false);

// How often one page may hand addresses to the shell, so a hostile page or
// frame cannot flood the player with browser windows: one a second at most,
// and per page load a handful that no click of the player's asked for.
inline constexpr std::uint32_t kShellOpenIntervalMs = 1000;
inline constexpr int kUnclickedShellOpensPerPage = 3;

class ShellThrottle {
 public:
  explicit ShellThrottle(platform::Clock& clock) : clock_(clock) {}
  // The panel starts loading a new page.
  void NewPage() { unclicked_ = 0; }
  // Whether an open may go ahead now; one that may is counted.
  [[nodiscard]] bool Allow(bool clicked);

 private:
  platform::Clock& clock_;
  bool opened_ = false;
  std::uint32_t last_ = 0;
  int unclicked_ = 0;
};

}  // namespace ui
