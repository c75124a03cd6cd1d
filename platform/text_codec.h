// Text at the edges. Internal text is UTF-8; GBK (code page 936) only where the
// bytes on disk are GBK: the configuration file, Game.ini, what the game reads.
#pragma once
#include <string>
#include <string_view>

namespace platform {

// Undecodable bytes become U+FFFD; *ok (when given) says whether all decoded.
std::string GbkToUtf8(std::string_view gbk, bool* ok = nullptr);
// Characters GBK cannot hold become '?'; *ok says whether all encoded.
std::string Utf8ToGbk(std::string_view utf8, bool* ok = nullptr);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace platform
