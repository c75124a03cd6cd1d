// The single-request fetch of a small file (logo and background pictures).
#pragma once
#include <string>

#include "platform/fs.h"

namespace platform {

// One GET of url; the body received, empty when the connection or the request
// fails. The status code is not examined. Blocks for as long as the host takes
// (bounded by timeouts): never call it on the window thread.
Bytes HttpReadFile(const std::string& url);

}  // namespace platform
