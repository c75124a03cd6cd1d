// The one check for a name the launcher builds a path from: a version's
// folder, a downloaded file, a file named by a download address. Both the
// folder names and the addresses come from the operator's configuration.
#pragma once
#include <cstddef>
#include <optional>
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

// Longer addresses are refused: the engine and the shell cut them anyway.
inline constexpr std::size_t kMaxWebAddressLength = 2083;

// The host of an http or https address, lower case, one trailing dot
// dropped ("a.com." is "a.com"); none for anything a browser might read
// differently from us: user info ("good@evil"), percent escapes or
// backslashes in the authority, bad ports, empty labels.
[[nodiscard]] std::optional<std::string> WebHost(std::string_view address);

// The one rule for every address the launcher hands to the shell: http or
// https to a host (WebHost), or mailto to recipients. What comes back is
// what the shell sees: the scheme in lower case, " < > ^ | ` and blanks
// percent-encoded (a handler's command line is no place for them), a stray
// "%" as "%25", and of a mailto's fields only subject and body. None for
// anything else, and for control characters anywhere.
[[nodiscard]] std::optional<std::string> ShellAddress(std::string_view address);

// An operator's address written without a scheme ("www.example.com/x")
// gets "http://" when what precedes its first "/", "?" or "#" has the form
// of a host name (dotted labels, the last not all digits, or a dotted IPv4
// address) with an optional port; anything else comes back unchanged.
[[nodiscard]] std::string WithWebScheme(std::string_view address);

// An address for the log: scheme, host, port and path; user info, query and
// fragment left out (they carry names, passwords and tokens), and control
// characters percent-encoded so one address stays one log line.
[[nodiscard]] std::string AddressForLog(std::string_view address);

}  // namespace platform
