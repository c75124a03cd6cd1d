// libFuzzer target for the INI engine over arbitrary file bytes. The input is
// "section \n key \n file"; every lookup and edit must stay inside the buffer,
// free what it allocates and keep a read value within the cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t a = in.find('\n');
  if (a == std::string_view::npos) return 0;
  size_t b = in.find('\n', a + 1);
  if (b == std::string_view::npos) return 0;
  std::string_view section = in.substr(0, a), key = in.substr(a + 1, b - a - 1);
  // A copy of exactly the file's bytes, so reading past them is caught.
  std::string file(in.substr(b + 1));

  bool utf8 = platform::ini::HasUtf8Bom(file);
  if (auto raw = platform::ini::FindRawValue(file, section, key)) {
    std::string value = platform::ini::FinishValue(*raw, utf8);
    if (value.size() > platform::kIniMaxValueBytes) std::abort();
  }
  if (auto edited = platform::ini::Edit(file, section, key, std::string_view("1280"))) {
    // The key must read back from the file it was written into, when the
    // names are ones the writer accepts and a two-byte character cannot swallow "]".
    bool plain = !section.empty() && !key.empty();
    for (char c : std::string(section) + std::string(key))
      if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 0x80 || c == '=' || c == '[' ||
          c == ']')
        plain = false;
    if (plain) {
      auto back = platform::ini::FindRawValue(*edited, section, key);
      if (!back || *back != "1280") std::abort();
    }
  }
  (void)platform::ini::Edit(file, section, key, std::nullopt);
  (void)platform::ini::Edit(file, section, std::nullopt, std::nullopt);
  return 0;
}
