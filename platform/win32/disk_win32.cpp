#include <windows.h>

#include "platform/disk.h"
#include "platform/win32/wide.h"

namespace platform {

std::string FileSystemAt(const std::string& folder) {
  wchar_t root[MAX_PATH + 1] = {}, name[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(win32::Widen(folder).c_str(), root, MAX_PATH)) return {};
  if (!::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH)) return {};
  std::string out;
  for (const wchar_t* c = name; *c; ++c) out += static_cast<char>(*c);
  return out;
}

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::int64_t>(available.QuadPart);
}

}  // namespace platform
