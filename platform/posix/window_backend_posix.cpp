#include "platform/window_backend.h"
#include "ui/headless_backend.h"

namespace platform {
std::unique_ptr<ui::Backend> CreateWindowBackend() { return std::make_unique<ui::HeadlessBackend>(); }
}  // namespace platform
