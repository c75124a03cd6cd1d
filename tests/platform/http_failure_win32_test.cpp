// The WinHTTP backend's failure kinds for codes the loopback servers cannot
// bring about (certificates, name resolution, 12157 as Wine reports TLS).
#include <gtest/gtest.h>

#include "platform/win32/winhttp_failure.h"

namespace platform {
namespace {

TEST(WinHttpFailureKind, Table) {
  struct Case {
    unsigned long code;
    HttpFailure before, after;  // before and after the response began
  };
  const Case cases[] = {
      {0, HttpFailure::None, HttpFailure::None},
      {12029, HttpFailure::Connect, HttpFailure::Connect},  // cannot connect
      {12007, HttpFailure::Connect, HttpFailure::Connect},  // name not resolved
      {12030, HttpFailure::Connect, HttpFailure::Broken},   // connection error
      {12175, HttpFailure::Tls, HttpFailure::Tls},          // secure failure
      {12157, HttpFailure::Tls, HttpFailure::Tls},          // secure channel error
      {12037, HttpFailure::Tls, HttpFailure::Tls},          // certificate date
      {12038, HttpFailure::Tls, HttpFailure::Tls},          // certificate name
      {12044, HttpFailure::Tls, HttpFailure::Tls},          // client certificate needed
      {12045, HttpFailure::Tls, HttpFailure::Tls},          // unknown authority
      {12002, HttpFailure::Stall, HttpFailure::Stall},      // time-out
      {10060, HttpFailure::Stall, HttpFailure::Stall},      // socket time-out, as Wine reports it
      {10054, HttpFailure::Connect, HttpFailure::Broken},   // reset by the peer
      {12156, HttpFailure::Protocol, HttpFailure::Protocol},  // redirect failed
      {12152, HttpFailure::Protocol, HttpFailure::Protocol},  // invalid server response
      {12017, HttpFailure::Cancelled, HttpFailure::Cancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(WinHttpFailureKind(c.code, false), c.before);
    EXPECT_EQ(WinHttpFailureKind(c.code, true), c.after);
  }
}

}  // namespace
}  // namespace platform
