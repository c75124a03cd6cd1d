// The backend that draws the windows on this platform: real windows on
// Windows, the recording headless backend elsewhere.
#pragma once
#include <memory>

#include "ui/backend.h"

namespace ui {
std::unique_ptr<Backend> CreateWindowBackend();
}
