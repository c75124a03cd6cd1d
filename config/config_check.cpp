#include "config/config_check.h"

#include <algorithm>
#include <set>

#include "config/launcher_config.h"
#include "platform/names.h"
#include "platform/runtime.h"
#include "platform/text_codec.h"

namespace config {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDownloadKey(std::string_view name) {
  return name.size() > 3 && (name.ends_with("exe") || name.ends_with("dat")) && name.find("登录器下载") != std::string_view::npos;
}

const ConfigKey* FindKey(std::string_view name) {
  for (const ConfigKey& k : ConfigKeys())
    if (k.name == name) return &k;
  return nullptr;
}

// In GBK: trail bytes are never '#', CR or LF, so lines and notes are found
// byte by byte.
void DropCommentLines(std::string& gbk) {
  std::size_t w = 0, from = 0;
  while (from < gbk.size()) {
    std::size_t end = gbk.find('\n', from);
    end = end == std::string::npos ? gbk.size() : end + 1;
    std::size_t first = from;
    while (first < end && (gbk[first] == ' ' || gbk[first] == '\t')) ++first;
    if (first == end || gbk[first] != '#') {
      if (w != from) std::copy(gbk.begin() + from, gbk.begin() + end, gbk.begin() + w);
      w += end - from;
    }
    from = end;
  }
  gbk.resize(w);
}

const char* PartForm(IntegrityPart part) {
  switch (part) {
    case IntegrityPart::Size: return "a size in bytes: decimal digits only, above 0";
    case IntegrityPart::Sha256: return "a SHA-256: exactly 64 hex digits";
    case IntegrityPart::Mirrors: return "http:// or https:// addresses separated by \"|\", without blanks";
  }
  return "";
}

// The optional keys: absent is fine, a malformed value is ignored by the
// launcher, so the operator hears about it here.
void CheckIntegrityKeys(std::string_view text, const std::set<std::string>& seen, CheckReport& report) {
  for (const IntegrityKey& k : IntegrityKeys()) {
    if (!seen.count(k.name)) continue;
    std::string value = LookupConfigValue(text, k.name);
    report.values.emplace_back(k.name, value);
    if (value.empty()) continue;
    if (!IsWellFormedIntegrityValue(k.part, value)) {
      report.problems.push_back("value \"" + value + "\" of \"" + k.name + "\" is not " + PartForm(k.part) +
                                "; the launcher ignores it");
    } else if (LookupConfigValue(text, k.fileKey).empty()) {
      report.problems.push_back("\"" + k.name + "\" is set but \"" + k.fileKey + "\" has no address");
    }
  }
}

bool IsPlainHttp(std::string_view url) {
  return url.size() >= 7 && platform::LowerText(url.substr(0, 7)) == "http://";
}

// Over plain http anyone on the network path can swap the file, and the
// start button would run it; only a configured hash catches that.
void WarnUnguardedHttp(std::string_view text, CheckReport& report) {
  for (const IntegrityKey& k : IntegrityKeys()) {
    if (k.part != IntegrityPart::Sha256) continue;
    if (ParseSha256Value(LookupConfigValue(text, k.name))) continue;
    std::vector<std::pair<std::string, std::string>> addresses = {{k.fileKey, LookupConfigValue(text, k.fileKey)}};
    std::vector<std::string> mirrors =
        ParseMirrorsValue(LookupConfigValue(text, k.fileKey + "镜像")).value_or(std::vector<std::string>{});
    for (std::size_t i = 0; i < mirrors.size(); ++i)
      addresses.emplace_back(k.fileKey + "镜像[" + std::to_string(i + 1) + "]", mirrors[i]);
    for (const auto& [key, url] : addresses) {
      if (!IsPlainHttp(url)) continue;
      report.warnings.push_back("\"" + key + "\" is fetched over plain http and \"" + k.name +
                                "\" is not set: anyone on the network path can swap the file; use https or add the "
                                "hash (tarnwick-config hash FILE)");
    }
  }
}

}  // namespace

std::string OperatorTextToUtf8(std::string_view raw) {
  if (raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
  if (platform::IsValidUtf8(raw)) return std::string(raw);
  return platform::GbkToUtf8(raw);
}

OperatorGbk OperatorTextToGbk(std::string_view raw) {
  if (raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);
  OperatorGbk result;
  // Line and column (in characters) of a byte offset into UTF-8 text.
  auto place = [&result](std::string_view utf8, std::size_t at) {
    std::size_t lineStart = 0;
    result.line = 1;
    for (std::size_t i = 0; i < at; ++i) {
      if (utf8[i] == '\n') {
        ++result.line;
        lineStart = i + 1;
      }
    }
    result.column = 1;
    for (std::size_t i = lineStart; i < at; ++i) result.column += (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
  };
  // Valid UTF-8 is converted where it lies; only GBK input needs a copy.
  std::string decoded;
  std::string_view text = raw;
  if (!platform::IsValidUtf8(raw)) {
    std::size_t multibyte = 0, stray = 0, firstStray = std::string_view::npos;
    for (std::size_t i = 0; i < raw.size();) {
      char32_t cp = 0;
      std::size_t len = platform::DecodeUtf8At(raw, i, cp);
      if (len == 0) {
        if (firstStray == std::string_view::npos) firstStray = i;
        ++stray;
        len = 1;
      } else {
        multibyte += len > 1;
      }
      i += len;
    }
    if (multibyte > stray) {
      // Mostly UTF-8: the text before the stray byte is UTF-8, so its place
      // counts in UTF-8 characters.
      place(raw, firstStray);
      result.notText = true;
      return result;
    }
    bool allDecoded = true;
    std::size_t badGbk = std::string_view::npos;
    decoded = platform::GbkToUtf8(raw, &allDecoded, &badGbk);
    if (!allDecoded) {
      // The text before the bad byte is GBK: count its characters as UTF-8.
      std::string before = platform::GbkToUtf8(raw.substr(0, badGbk));
      place(before, before.size());
      result.notText = true;
      return result;
    }
    text = decoded;
  }
  std::size_t bad = std::string_view::npos;
  result.gbk = platform::Utf8ToGbk(text, nullptr, &bad);
  if (bad == std::string_view::npos) {
    DropCommentLines(result.gbk);
    return result;
  }
  result.gbk.clear();
  place(text, bad);
  return result;
}

CheckReport CheckConfigBytes(std::span<const std::uint8_t> data) {
  CheckReport report;
  if (data.size() < kMinConfigBytes) {
    report.problems.push_back("file is " + std::to_string(data.size()) +
                              " bytes; the launcher refuses files under 10 bytes (配置文件为空或损坏！)");
  }
  std::vector<std::uint8_t> plain = DecipherConfigBytes(data);
  std::size_t zero = 0;
  while (zero < plain.size() && plain[zero] != 0) ++zero;
  if (zero < plain.size()) {
    report.problems.push_back("deciphered text holds a zero byte at offset " + std::to_string(zero) +
                              "; everything after it is ignored");
  }
  bool validGbk = true;
  std::string text = DecipherToText(data, &validGbk);
  if (!validGbk) {
    report.problems.push_back("text does not decipher into GBK: wrong key, or not enciphered");
  }
  for (const ConfigKey& k : ConfigKeys()) report.values.emplace_back(std::string(k.name), LookupConfigValue(text, k.name));

  // Bare LF: the launcher splits on CR LF only, so such lines run together.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      report.problems.push_back("bare LF line end at offset " + std::to_string(i) +
                                ": lines after it merge into one and their keys are not found");
      break;
    }
  }

  std::set<std::string> seen;
  std::vector<std::string> lines = platform::SplitText(text, "\r\n");
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    std::string where = "line " + std::to_string(n + 1) + ": ";
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      if (!line.empty()) report.problems.push_back(where + "no \"=\"; the line is ignored");
      continue;
    }
    std::string name = line.substr(0, eq);
    std::size_t b = 0, e = name.size();
    while (b < e && IsBlank(name[b])) ++b;
    while (e > b && IsBlank(name[e - 1])) --e;
    std::string trimmed = name.substr(b, e - b);
    if (trimmed != name) {
      report.problems.push_back(where + "key \"" + name + "\" has leading or trailing blanks and never matches");
    }
    if (trimmed == kDownloadConnectionsKey) {  // optional: never "missing"
      if (trimmed != name) continue;
      if (!seen.insert(name).second)
        report.problems.push_back(where + "duplicate key \"" + name + "\"; the first one is used");
      else if (!ParseDownloadConnections(line.substr(eq + 1)))
        report.problems.push_back(where + "\"" + name + "\" is \"" + line.substr(eq + 1) +
                                  "\", not a number from 1 to 8; the launcher uses " +
                                  std::to_string(kDefaultDownloadConnections));
      continue;
    }
    if (!FindKey(trimmed) && !FindIntegrityKey(trimmed)) {
      report.problems.push_back(where + "unknown key \"" + trimmed + "\" (misspelt?)");
      continue;
    }
    if (trimmed != name) continue;
    if (!seen.insert(name).second) {
      report.problems.push_back(where + "duplicate key \"" + name + "\"; the first one is used");
    }
  }
  for (const auto& [name, value] : report.values) {
    if (!seen.count(name)) {
      report.problems.push_back("missing key \"" + name + "\"");
      continue;
    }
    const ConfigKey* key = FindKey(name);
    if (IsDownloadKey(name) && !value.empty()) {
      std::string file = platform::TextAfterLastSlash(value);
      if (file.empty()) {
        report.problems.push_back("download address of \"" + name + "\" has no file name after its last \"/\"");
      } else if (!platform::IsValidName(file)) {
        report.problems.push_back("download address of \"" + name + "\" names the file \"" + file +
                                  "\", which the launcher refuses as a file name");
      }
    } else if (key && key->slotField == &VersionSlot::folderName && !value.empty() &&
               !platform::IsValidName(value)) {
      report.problems.push_back("folder name \"" + value + "\" of \"" + name +
                                "\" is refused by the launcher: the version can never be installed");
    }
  }
  // Pages the launcher shows or opens: one without a scheme opens as http://.
  using LC = LauncherConfig;
  for (const auto& [name, value] : report.values) {
    const ConfigKey* key = FindKey(name);
    auto field = key ? key->launcherField : nullptr;
    bool page = key && (key->slotField == &VersionSlot::announcement || field == &LC::homePageUrl ||
                        field == &LC::topUpUrl || field == &LC::registerUrl || field == &LC::customerServiceUrl);
    if (page && platform::WithWebScheme(value) != value)
      report.warnings.push_back("\"" + name + "\" is \"" + value + "\" without a scheme; the launcher opens " +
                                platform::WithWebScheme(value));
  }
  CheckIntegrityKeys(text, seen, report);
  WarnUnguardedHttp(text, report);
  return report;
}

}  // namespace config
