// The default 配置文件.dat the program carries, written beside it when missing.
#pragma once
#include <cstdint>
#include <span>

namespace config {
std::span<const std::uint8_t> DefaultConfigBytes();
}
