#include <windows.h>

#include "platform/disk.h"
#include "platform/win32/wide.h"

namespace platform {

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::int64_t>(available.QuadPart);
}

}  // namespace platform
