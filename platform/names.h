// The one check for a name the launcher builds a path from: a version's
// folder, a downloaded file, a file named by a download address. Both the
// folder names and the addresses come from the operator's configuration.
#pragma once
#include <string>
#include <string_view>

namespace platform {

// A single valid Windows file or folder name that stays where it is put: not
// empty, not "." or "..", no control character, none of \ / : * ? " < > |, no
// trailing dot or space (Windows strips them, so "abc." would name "abc"), and
// not a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9,
// LPT1-9, also with an extension: "nul.txt" opens the device).
[[nodiscard]] bool IsValidName(std::string_view name);

// A "\"-separated path whose every part after an optional drive ("C:\") or
// leading "\" is a valid name.
[[nodiscard]] bool IsSafePath(std::string_view path);

// True for an address a browser or an installed program should open: a
// "scheme://" address other than file:. Local paths, file: addresses and UNC
// paths from the configuration are refused.
[[nodiscard]] bool IsWebAddress(std::string_view url);
// A "mailto:" address (any case) with a recipient: the shell hands it to the
// mail program, and it names nothing local.
[[nodiscard]] bool IsMailAddress(std::string_view url);

}  // namespace platform
