#include "ui/window_backend.h"
#include "ui/headless_backend.h"

namespace ui {
std::unique_ptr<Backend> CreateWindowBackend() { return std::make_unique<HeadlessBackend>(); }
}  // namespace ui
