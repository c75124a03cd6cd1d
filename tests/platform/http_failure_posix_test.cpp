// The libcurl backend's failure kinds for codes the loopback servers cannot
// bring about (TLS, name resolution, time-outs inside libcurl).
#include <gtest/gtest.h>

#include "platform/posix/curl_failure.h"

namespace platform {
namespace {

TEST(CurlFailureKind, Table) {
  struct Case {
    CURLcode code;
    HttpFailure before, after;  // before and after the response began
  };
  const Case cases[] = {
      {CURLE_OK, HttpFailure::None, HttpFailure::None},
      {CURLE_COULDNT_CONNECT, HttpFailure::Connect, HttpFailure::Connect},
      {CURLE_COULDNT_RESOLVE_HOST, HttpFailure::Connect, HttpFailure::Connect},
      {CURLE_GOT_NOTHING, HttpFailure::Connect, HttpFailure::Connect},
      {CURLE_RECV_ERROR, HttpFailure::Connect, HttpFailure::Broken},
      {CURLE_SEND_ERROR, HttpFailure::Connect, HttpFailure::Broken},
      {CURLE_PARTIAL_FILE, HttpFailure::Broken, HttpFailure::Broken},
      {CURLE_SSL_CONNECT_ERROR, HttpFailure::Tls, HttpFailure::Tls},
      {CURLE_PEER_FAILED_VERIFICATION, HttpFailure::Tls, HttpFailure::Tls},
      {CURLE_SSL_CACERT_BADFILE, HttpFailure::Tls, HttpFailure::Tls},
      {CURLE_SSL_CERTPROBLEM, HttpFailure::Tls, HttpFailure::Tls},
      {CURLE_OPERATION_TIMEDOUT, HttpFailure::Stall, HttpFailure::Stall},
      {CURLE_TOO_MANY_REDIRECTS, HttpFailure::Protocol, HttpFailure::Protocol},
      {CURLE_UNSUPPORTED_PROTOCOL, HttpFailure::Protocol, HttpFailure::Protocol},
      {CURLE_WEIRD_SERVER_REPLY, HttpFailure::Protocol, HttpFailure::Protocol},
      {CURLE_ABORTED_BY_CALLBACK, HttpFailure::Cancelled, HttpFailure::Cancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(curl_easy_strerror(c.code));
    EXPECT_EQ(CurlFailureKind(c.code, false), c.before);
    EXPECT_EQ(CurlFailureKind(c.code, true), c.after);
  }
}

}  // namespace
}  // namespace platform
