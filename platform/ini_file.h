// Private-profile (INI) files such as Game.ini: GBK bytes on disk, UTF-8 here.
// One engine for every build, so the files come out the same on a Chinese and
// a non-Chinese Windows, under Wine and in the native tests.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The value of key in section, at most kIniMaxValueBytes bytes on disk; blanks
// around it and one pair of matching quotes are removed. Names compare without
// regard to ASCII case; the first of duplicate keys wins. A missing file or key
// gives the default (its trailing spaces and one pair of quotes removed). A
// file, section or key name that is empty once its leading bytes of value 32 or
// lower are skipped gives the empty text without the file being read.
std::string ReadIniItem(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view defaultValue = {});

// Changes key in place, adds it at the end of its section or adds the section
// at the end of the file, creating the file when missing. Without a value the
// key is deleted, without a key the first section of the name. Every byte not concerned is
// kept; the file is only ever replaced by a complete new one. False when the
// file cannot be read or written, or when a name or value cannot be stored
// (empty names, line breaks, "=" in a key, characters GBK cannot hold).
[[nodiscard]] bool WriteIniItem(const std::string& file, std::string_view section,
                                std::optional<std::string_view> key, std::optional<std::string_view> value);

inline constexpr std::size_t kIniMaxValueBytes = 10240;

// The engine over the file's bytes, without the file system: for tests and the
// fuzz target. Names and values are in the file's own encoding (GBK, or UTF-8
// after a UTF-8 byte-order mark).
namespace ini {

// The raw value (blanks trimmed, quotes kept); nothing when the section or key
// is missing or the key's line has no "=".
std::optional<std::string_view> FindRawValue(std::string_view file, std::string_view section,
                                             std::string_view key);
// Quotes removed and capped as ReadIniItem returns it.
std::string FinishValue(std::string_view raw, bool utf8);

// The file's new bytes after the change; nothing when the change leaves the
// file as it is.
std::optional<std::string> Edit(std::string_view file, std::string_view section, std::optional<std::string_view> key,
                                std::optional<std::string_view> value);

// True when the bytes start with a UTF-8 byte-order mark.
bool HasUtf8Bom(std::string_view file);

}  // namespace ini
}  // namespace platform
