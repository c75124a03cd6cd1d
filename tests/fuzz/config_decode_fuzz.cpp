// libFuzzer target for the configuration decoder over arbitrary file bytes:
// deciphering, the operator's check and every key lookup stay inside the
// buffer, and text that decodes fully comes back unchanged from encode then
// decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/launcher_config.h"
#include "platform/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so reading past the bytes is caught.
  std::vector<std::uint8_t> file(data, data + size);
  bool validGbk = false;
  std::string text = config::DecipherToText(file, &validGbk);
  config::CheckReport report = config::CheckConfigBytes(file);
  if (report.values.size() != config::ConfigKeys().size()) std::abort();
  for (const auto& [key, value] : report.values) {
    // A value is the rest of one CR LF line of the text.
    if (value.find("\r\n") != std::string::npos) std::abort();
    if (!value.empty() && text.find(key + "=" + value) == std::string::npos) std::abort();
    if (value != config::LookupConfigValue(text, key)) std::abort();
  }
  if (size < config::kMinConfigBytes && report.problems.empty()) std::abort();

  // The same bytes read as plain GBK text: when every byte decodes, encoding
  // and deciphering give the text back.
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  bool ok = false;
  std::string utf8 = platform::GbkToUtf8(raw, &ok);
  if (ok && utf8.find_first_of(std::string_view("\0\n", 2)) == std::string::npos) {
    bool back = false;
    std::size_t bad = 0;
    std::string gbk = platform::Utf8ToGbk(utf8, &back, &bad);
    if (!back || bad != std::string_view::npos) std::abort();
    if (platform::GbkToUtf8(gbk) != utf8) std::abort();
    if (config::DecipherToText(config::EncodeConfigText(utf8)) != utf8) std::abort();
  }
  // Text with a character GBK lacks is refused with a place inside the text.
  config::OperatorGbk op = config::OperatorTextToGbk(raw);
  if ((op.line == 0) != (op.column == 0)) std::abort();
  return 0;
}
