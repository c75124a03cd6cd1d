// The single-request fetch of a small file (logo and background pictures).
#pragma once
#include <atomic>
#include <cstddef>
#include <string>

#include "platform/fs.h"

namespace platform {

// Bounds of one fetch: a picture address may point at a huge file or a host
// that trickles, and the 32-bit launcher must neither grow nor wait for ever.
struct HttpReadLimits {
  std::size_t maxBytes = 16u << 20;  // a larger body fails the fetch
  int deadlineMs = 60000;            // for the whole fetch, connect included
};

// One GET of url; the body received, empty when the connection or the request
// fails, the body exceeds maxBytes, the deadline passes or *cancel becomes
// true (looked at between reads, and by the POSIX backend at least once a
// second). The status code is not examined. Blocks: never call it on the
// window thread.
Bytes HttpReadFile(const std::string& url, const HttpReadLimits& limits = {},
                   const std::atomic<bool>* cancel = nullptr);

}  // namespace platform
