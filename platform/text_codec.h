// Text at the edges. Internal text is UTF-8; GBK (code page 936) only where the
// bytes on disk are GBK: the configuration file, Game.ini, what the game reads.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Both conversions take time linear in the input, however much of it is bad.
// *firstBad (when given) is the input offset of the first byte that did not
// convert, npos when all did.

// Undecodable bytes become U+FFFD; *ok (when given) says whether all decoded.
std::string GbkToUtf8(std::string_view gbk, bool* ok = nullptr, std::size_t* firstBad = nullptr);
// Characters GBK cannot hold become '?'; *ok says whether all encoded.
std::string Utf8ToGbk(std::string_view utf8, bool* ok = nullptr, std::size_t* firstBad = nullptr);

// The well-formed UTF-8 character at text[i]: its length and code point; 0
// when none starts there.
std::size_t DecodeUtf8At(std::string_view text, std::size_t i, char32_t& cp);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace platform
