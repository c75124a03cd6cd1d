// How the WinHTTP backend names a failed request's kind; apart so that the
// whole table can be checked without provoking each code.
#pragma once
#include "platform/http_transport.h"

namespace platform {

// code: a WinHTTP or system error. responseBegan: the response's headers had
// been received.
HttpFailure WinHttpFailureKind(unsigned long code, bool responseBegan);

}  // namespace platform
