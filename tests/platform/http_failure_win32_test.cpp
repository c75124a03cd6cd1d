// The WinHTTP backend's failure kinds for codes the loopback servers cannot
// bring about (certificates, name resolution, 12157 as Wine reports TLS).
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <vector>

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
      {12152, HttpFailure::Connect, HttpFailure::Broken},     // invalid server response: a closed connection under Wine
      {12017, HttpFailure::Cancelled, HttpFailure::Cancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(WinHttpFailureKind(c.code, false), c.before);
    EXPECT_EQ(WinHttpFailureKind(c.code, true), c.after);
  }
}

// Windows 7 offers TLS 1.2 only when asked. A real session takes the value
// (Wine can show no more than that: which version a handshake then uses
// needs a real Windows 7 and an https server).
TEST(WinHttpSecureProtocols, TheSessionTakesTlsUpToOnePointTwoAtLeast) {
  HINTERNET session = ::WinHttpOpen(L"tarnwick-test", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  ASSERT_NE(session, nullptr);
  const unsigned long taken = OfferCurrentTls(session);
  EXPECT_EQ(taken & kSecureProtocolsTls10To12, kSecureProtocolsTls10To12) << taken;
  DWORD now = 0, size = sizeof now;
  if (::WinHttpQueryOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &now, &size)) {
    EXPECT_EQ(now, taken);
  }
  ::WinHttpCloseHandle(session);

  // A system that does not know the 1.3 flag refuses the value: 1.0 to 1.2
  // then. One that refuses both keeps its own.
  struct Row {
    std::vector<unsigned long> refused;
    unsigned long taken;
    std::size_t calls;
  };
  const Row rows[] = {
      {{}, kSecureProtocolsTls10To12 | kSecureProtocolTls13, 1},
      {{kSecureProtocolsTls10To12 | kSecureProtocolTls13}, kSecureProtocolsTls10To12, 2},
      {{kSecureProtocolsTls10To12 | kSecureProtocolTls13, kSecureProtocolsTls10To12}, 0, 2},
  };
  for (const Row& r : rows) {
    std::vector<unsigned long> seen;
    auto set = [&](void* handle, unsigned long option, unsigned long value) {
      EXPECT_EQ(handle, reinterpret_cast<void*>(0x1234));
      EXPECT_EQ(option, static_cast<unsigned long>(WINHTTP_OPTION_SECURE_PROTOCOLS));
      seen.push_back(value);
      for (unsigned long no : r.refused)
        if (no == value) return false;
      return true;
    };
    EXPECT_EQ(OfferCurrentTls(reinterpret_cast<void*>(0x1234), set), r.taken);
    EXPECT_EQ(seen.size(), r.calls);
  }
}

}  // namespace
}  // namespace platform
