#include <windows.h>

#include "platform/disk.h"
#include "platform/win32/wide.h"

namespace platform {

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::int64_t>(available.QuadPart);
}

std::string FileSystemAt(const std::string& folder) {
  // The root of the volume that holds the folder: "D:\\", or the mount
  // point a folder of another drive is mounted at.
  std::wstring wide = win32::Widen(folder);
  if (!wide.empty() && wide.back() != L'\\') wide += L'\\';
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(wide.c_str(), root, MAX_PATH)) return {};
  wchar_t name[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH)) return {};
  return win32::Narrow(name);
}

}  // namespace platform
