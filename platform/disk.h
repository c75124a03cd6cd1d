// What a volume can still take.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes the caller may still write on the volume that holds folder; nothing
// when it cannot be told.
std::optional<std::int64_t> FreeBytesAt(const std::string& folder);

}  // namespace platform
