#include "config/default_config.h"

#include "default_config_dat.inc"

namespace config {
std::span<const std::uint8_t> DefaultConfigBytes() { return kDefaultConfigDat; }
}  // namespace config
