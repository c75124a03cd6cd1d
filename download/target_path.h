// Checks a download's target path before anything touches the disk: every
// part must be a valid Windows file name, and none may climb out of the
// folder it names ("." and "..").
#pragma once
#include <string>
#include <string_view>

namespace download {

// A single valid Windows file name: not empty, not "." or "..", no control
// character, none of \ / : * ? " < > |, no trailing dot or space, and not a
// reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an
// extension).
[[nodiscard]] bool IsValidFileName(std::string_view name);
// A "\"-separated path whose every part after an optional drive ("C:") or
// leading "\" is a valid file name.
[[nodiscard]] bool IsSafeTargetPath(const std::string& path);

}  // namespace download
