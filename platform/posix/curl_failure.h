// How the libcurl backend names a failed transfer's kind; apart so that the
// whole table can be checked without provoking each code.
#pragma once
#include <curl/curl.h>

#include "platform/http_transport.h"

namespace platform {

// responseBegan: a status line of the response being read had arrived.
HttpFailure CurlFailureKind(CURLcode code, bool responseBegan);

}  // namespace platform
