// How the WinHTTP backend names a failed request's kind, and which TLS versions
// its sessions offer; apart so that both can be checked without a server.
#pragma once
#include <functional>

#include "platform/http_transport.h"

namespace platform {

// code: a WinHTTP or system error. responseBegan: the response's headers had
// been received.
HttpFailure WinHttpFailureKind(unsigned long code, bool responseBegan);

// The TLS versions a session offers. Windows 7 offers SSL 3 and TLS 1.0 only
// unless told, and most https servers refuse those. 1.3 is asked for first;
// a system that does not know the flag refuses the whole value.
inline constexpr unsigned long kSecureProtocolsTls10To12 = 0x80 | 0x200 | 0x800;
inline constexpr unsigned long kSecureProtocolTls13 = 0x2000;
// Sets one option on a WinHTTP handle; WinHttpSetOption unless a test says.
using WinHttpOptionSetter = std::function<bool(void* handle, unsigned long option, unsigned long value)>;
// Sets WINHTTP_OPTION_SECURE_PROTOCOLS on session: TLS 1.0 to 1.3, else 1.0
// to 1.2. The flags the system took; 0 when it refused both, and the
// session keeps the system's choice.
unsigned long OfferCurrentTls(void* session, const WinHttpOptionSetter& set = {});

}  // namespace platform
