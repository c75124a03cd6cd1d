// A version's folder lies directly beneath the program's directory. The
// folder name comes from the operator's configuration, so it is checked
// before any path is built from it.
#pragma once
#include <string_view>

namespace games {

// True for a plain, single folder name that stays inside the program's
// directory. Refused: empty; absolute or drive-qualified names; "..";
// separators "/" and "\"; ":"; control characters; the wildcard and other
// characters Windows forbids in names (* ? " < > |); names made only of dots
// and spaces (Windows maps them onto the parent); device names (CON, NUL,
// COM1...), also with an extension.
[[nodiscard]] bool IsSafeFolderName(std::string_view name);

}  // namespace games
