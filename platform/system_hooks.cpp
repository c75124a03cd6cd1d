#include "platform/system_hooks.h"

#include "platform/log.h"
#include "platform/names.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {
std::mutex g_hookMutex;
std::function<int(const MessageCall&)> g_messageHook;
std::function<int(const ShellCall&)> g_shellHook;
std::mutex g_endMutex;
std::vector<void (*)()> g_endRoutines;
}  // namespace

void SetMessageHook(std::function<int(const MessageCall&)> hook) {
  std::lock_guard lock(g_hookMutex);
  g_messageHook = std::move(hook);
}

void SetShellHook(std::function<int(const ShellCall&)> hook) {
  std::lock_guard lock(g_hookMutex);
  g_shellHook = std::move(hook);
}

bool OpenInBrowser(std::string_view address) {
  std::optional<std::string> shell = ShellAddress(address);
  if (!shell) {
    Log("Refused to open " + AddressForLog(address));
    return false;
  }
  Log("Opens " + AddressForLog(*shell));
  return ShellOpen(*shell, "", kShowNormal) > 32;
}

void LogMessageBox(std::string_view text, std::string_view caption) {
  std::string line = "Message box [";
  line.append(caption).append("]: ").append(text);
  Log(line);
}

std::optional<int> CallMessageHook(const MessageCall& call) {
  std::function<int(const MessageCall&)> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_messageHook;
  }
  if (!hook) return std::nullopt;
  return hook(call);
}

std::optional<int> CallShellHook(const ShellCall& call) {
  std::function<int(const ShellCall&)> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_shellHook;
  }
  if (!hook) return std::nullopt;
  return hook(call);
}

void RegisterEndRoutine(void (*routine)()) {
  std::lock_guard lock(g_endMutex);
  for (auto r : g_endRoutines)
    if (r == routine) return;
  g_endRoutines.push_back(routine);
}

void RunEndRoutines() {
  std::vector<void (*)()> routines;
  {
    std::lock_guard lock(g_endMutex);
    routines.swap(g_endRoutines);
  }
  for (auto r : routines) r();
}

std::string FatalErrorText(int code, std::string_view message) {
  std::string text = "运行时出错!\r\n\r\n";
  if (code != 0) text += "错误代码：" + std::to_string(code) + "\r\n\r\n";
  if (!message.empty()) {
    text += "错误信息：";
    text += message;
    text += "\r\n";
  }
  return text;
}

}  // namespace platform
