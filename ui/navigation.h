// What the announcement panel does with an address the page navigates to:
// the operator's own pages stay in the panel, other web pages open in the
// player's browser, and anything that could reach local files, other
// programs or other frames' scripts is refused.
#pragma once
#include <cstddef>
#include <string_view>

namespace ui {

enum class Navigation : unsigned char {
  Stay,    // load it in the panel
  Shell,   // cancel, and open it in the player's default browser
  Refuse,  // cancel, nothing opens
};

// Longer addresses are refused: the engine and the shell cut them anyway.
inline constexpr std::size_t kMaxAddressLength = 2083;

// address: where the page goes; panelAddress: the announcement the panel was
// given. otherFrame: the navigation targets a frame or window other than the
// one it starts in (a new window, a named or parent frame), where a
// "javascript:" address would run script in someone else's document.
[[nodiscard]] Navigation DecideNavigation(std::string_view address, std::string_view panelAddress,
                                          bool otherFrame = false);

}  // namespace ui
