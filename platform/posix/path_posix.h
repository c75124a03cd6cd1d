#pragma once
#include <string>

namespace platform {
// The core writes "\" between path parts; POSIX wants "/".
inline std::string NativePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}
}  // namespace platform
