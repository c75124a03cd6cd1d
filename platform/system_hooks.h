// Shared pieces of the system backends: test hooks and end routines.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace platform {

// Every message box leaves a line in the log, hooked or shown.
void LogMessageBox(std::string_view text, std::string_view caption);
std::optional<int> CallMessageHook(const MessageCall& call);
std::optional<int> CallShellHook(const ShellCall& call);
void RunEndRoutines();
std::string FatalErrorText(int code, std::string_view message);

}  // namespace platform
