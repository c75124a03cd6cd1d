#include "config/launcher_config.h"

#include "platform/fs.h"
#include "platform/log.h"
#include "platform/system.h"
#include "platform/text_codec.h"

namespace config {
namespace {

using LC = LauncherConfig;
using VS = VersionSlot;

constexpr ConfigKey kKeys[] = {
    {"主页地址编辑框", 0, nullptr, &LC::homePageUrl},
    {"LOGO素材地址编辑框", 0, nullptr, &LC::logoImageUrl},
    {"适龄提示内容编辑框", 0, nullptr, &LC::ageNoticeText},
    {"购卡充值地址编辑框", 0, nullptr, &LC::topUpUrl},
    {"注册账号地址编辑框", 0, nullptr, &LC::registerUrl},
    {"客户服务地址编辑框", 0, nullptr, &LC::customerServiceUrl},
    {"版本四登录器下载dat", 4, &VS::dataDownloadUrl, nullptr},
    {"版本四登录器下载exe", 4, &VS::programDownloadUrl, nullptr},
    {"版本三登录器下载dat", 3, &VS::dataDownloadUrl, nullptr},
    {"版本三登录器下载exe", 3, &VS::programDownloadUrl, nullptr},
    {"版本二登录器下载dat", 2, &VS::dataDownloadUrl, nullptr},
    {"版本二登录器下载exe", 2, &VS::programDownloadUrl, nullptr},
    {"版本一登录器下载dat", 1, &VS::dataDownloadUrl, nullptr},
    {"版本一登录器下载exe", 1, &VS::programDownloadUrl, nullptr},
    {"创建版本文件夹名称编辑框1", 1, &VS::folderName, nullptr},
    {"创建版本文件夹名称编辑框2", 2, &VS::folderName, nullptr},
    {"创建版本文件夹名称编辑框3", 3, &VS::folderName, nullptr},
    {"创建版本文件夹名称编辑框4", 4, &VS::folderName, nullptr},
    {"版本一名称编辑框", 1, &VS::displayName, nullptr},
    {"版本二名称编辑框", 2, &VS::displayName, nullptr},
    {"版本三名称编辑框", 3, &VS::displayName, nullptr},
    {"版本四名称编辑框", 4, &VS::displayName, nullptr},
    {"版本1公告编辑框", 1, &VS::announcement, nullptr},
    {"版本2公告编辑框", 2, &VS::announcement, nullptr},
    {"版本3公告编辑框", 3, &VS::announcement, nullptr},
    {"版本4公告编辑框", 4, &VS::announcement, nullptr},
    {"版本1背景图编辑框", 1, &VS::backgroundImage, nullptr},
    {"版本2背景图编辑框", 2, &VS::backgroundImage, nullptr},
    {"版本3背景图编辑框", 3, &VS::backgroundImage, nullptr},
    {"版本4背景图编辑框", 4, &VS::backgroundImage, nullptr},
};

std::vector<IntegrityKey> MakeIntegrityKeys() {
  static constexpr std::string_view kNumerals[] = {"一", "二", "三", "四"};
  std::vector<IntegrityKey> keys;
  for (int slot = 1; slot <= 4; ++slot) {
    for (bool program : {true, false}) {
      std::string fileKey = "版本" + std::string(kNumerals[slot - 1]) + "登录器下载" + (program ? "exe" : "dat");
      keys.push_back({fileKey + "大小", fileKey, slot, program, IntegrityPart::Size});
      keys.push_back({fileKey + "校验", fileKey, slot, program, IntegrityPart::Sha256});
      keys.push_back({fileKey + "镜像", fileKey, slot, program, IntegrityPart::Mirrors});
    }
  }
  return keys;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsSpareAddress(std::string_view url) {
  std::size_t scheme = StartsWithNoCase(url, "http://") ? 7 : StartsWithNoCase(url, "https://") ? 8 : 0;
  if (scheme == 0) return false;
  for (char c : url)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  std::string_view rest = url.substr(scheme);
  std::size_t hostEnd = rest.find_first_of("/?#");
  return hostEnd != 0 && !rest.empty();
}

}  // namespace

std::span<const ConfigKey> ConfigKeys() { return kKeys; }

std::span<const IntegrityKey> IntegrityKeys() {
  static const std::vector<IntegrityKey> keys = MakeIntegrityKeys();
  return keys;
}

const IntegrityKey* FindIntegrityKey(std::string_view name) {
  for (const IntegrityKey& k : IntegrityKeys())
    if (k.name == name) return &k;
  return nullptr;
}

std::optional<std::uint64_t> ParseSizeValue(std::string_view value) {
  if (value.empty() || value.size() > 20) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    unsigned d = static_cast<unsigned>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return std::nullopt;
    n = n * 10 + d;
  }
  // An empty file never counts as installed: a size of 0 is a slip.
  if (n == 0) return std::nullopt;
  return n;
}

std::optional<platform::Sha256Digest> ParseSha256Value(std::string_view value) {
  return platform::DigestFromHex(value);
}

std::optional<std::vector<std::string>> ParseMirrorsValue(std::string_view value) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    std::size_t bar = value.find('|', from);
    std::string_view one = value.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from);
    if (!IsSpareAddress(one)) return std::nullopt;
    out.emplace_back(one);
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  return out;
}

bool IsWellFormedIntegrityValue(IntegrityPart part, std::string_view value) {
  switch (part) {
    case IntegrityPart::Size: return ParseSizeValue(value).has_value();
    case IntegrityPart::Sha256: return ParseSha256Value(value).has_value();
    case IntegrityPart::Mirrors: return ParseMirrorsValue(value).has_value();
  }
  return false;
}

std::vector<std::uint8_t> DecipherConfigBytes(std::span<const std::uint8_t> data, std::string_view key) {
  std::vector<std::uint8_t> out(data.begin(), data.end());
  if (key.empty()) return out;
  for (std::size_t j = 0; j < out.size(); ++j) out[j] ^= static_cast<std::uint8_t>(key[j % key.size()]);
  return out;
}

std::string LookupConfigValue(std::string_view text, std::string_view key) {
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find("\r\n", from);
    std::string_view line = text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
    std::size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0 && line.substr(0, eq) == key) return std::string(line.substr(eq + 1));
    if (end == std::string_view::npos) break;
    from = end + 2;
  }
  return {};
}

std::string DecipherToText(std::span<const std::uint8_t> data, bool* validGbk) {
  std::vector<std::uint8_t> plain = DecipherConfigBytes(data);
  std::size_t n = 0;
  while (n < plain.size() && plain[n] != 0) ++n;
  return platform::GbkToUtf8(std::string_view(reinterpret_cast<const char*>(plain.data()), n), validGbk);
}

std::optional<int> ParseDownloadConnections(std::string_view value) {
  if (value.size() != 1 || value[0] < '1' || value[0] > '8') return std::nullopt;
  return value[0] - '0';
}

void ApplyConfigText(std::string_view text, Configuration& out) {
  for (const ConfigKey& k : kKeys) {
    std::string value = LookupConfigValue(text, k.name);
    if (k.slot == 0) out.launcher.*(k.launcherField) = std::move(value);
    else out.slots[static_cast<std::size_t>(k.slot - 1)].*(k.slotField) = std::move(value);
  }
  for (VersionSlot& slot : out.slots) slot.programIntegrity = slot.dataIntegrity = {};
  for (const IntegrityKey& k : IntegrityKeys()) {
    std::string value = LookupConfigValue(text, k.name);
    if (value.empty()) continue;
    VersionSlot& slot = out.slots[static_cast<std::size_t>(k.slot - 1)];
    FileIntegrity& file = k.program ? slot.programIntegrity : slot.dataIntegrity;
    switch (k.part) {
      case IntegrityPart::Size: file.size = ParseSizeValue(value); break;
      case IntegrityPart::Sha256: file.sha256 = ParseSha256Value(value); break;
      case IntegrityPart::Mirrors: file.mirrors = ParseMirrorsValue(value).value_or(std::vector<std::string>{}); break;
    }
  }
  out.launcher.downloadConnections = ParseDownloadConnections(LookupConfigValue(text, kDownloadConnectionsKey))
                                         .value_or(kDefaultDownloadConnections);
}

LoadResult ReadConfigFile(const std::string& path, Configuration& out) {
  platform::ReadFailure why = platform::ReadFailure::None;
  std::optional<platform::Bytes> data = platform::ReadWholeFile(path, &why);
  if (!data) return why == platform::ReadFailure::Missing ? LoadResult::Missing : LoadResult::Unreadable;
  if (data->size() < kMinConfigBytes) return LoadResult::TooShort;
  ApplyConfigText(DecipherToText(*data), out);
  return LoadResult::Ok;
}

std::string ConfigSummary(const std::string& path, const Configuration& cfg) {
  std::size_t set = 0;
  for (const ConfigKey& k : kKeys) {
    const std::string& value =
        k.slot == 0 ? cfg.launcher.*(k.launcherField) : cfg.slots[static_cast<std::size_t>(k.slot - 1)].*(k.slotField);
    set += !value.empty();
  }
  // Names and counts only: the file's addresses are the operator's business.
  std::string line = "Configuration " + path + ": " + std::to_string(set) + " of " + std::to_string(std::size(kKeys)) +
                     " keys set; versions";
  for (const VersionSlot& slot : cfg.slots) line += " [" + slot.displayName + "]";
  return line;
}

bool LoadLauncherConfig(Configuration& out) {
  return LoadLauncherConfigFrom(platform::GetRunDirectory() + "\\" + std::string(kConfigFileName), out);
}

bool LoadLauncherConfigFrom(const std::string& path, Configuration& out) {
  switch (ReadConfigFile(path, out)) {
    case LoadResult::Missing:
      platform::Log("Configuration " + path + " is missing");
      platform::ShowMessage(kConfigMissingText, platform::kMbOk, "错误");
      return false;
    case LoadResult::Unreadable:
      platform::Log("Configuration " + path + " cannot be read");
      platform::ShowMessage(kConfigDamagedText, platform::kMbOk, "错误");
      return false;
    case LoadResult::TooShort:
      platform::Log("Configuration " + path + " is shorter than " + std::to_string(kMinConfigBytes) + " bytes");
      platform::ShowMessage(kConfigDamagedText, platform::kMbOk, "错误");
      return false;
    case LoadResult::Ok:
      platform::Log(ConfigSummary(path, out));
      return true;
  }
  return false;
}

std::vector<std::uint8_t> EncodeConfigText(std::string_view utf8Text) {
  return EncipherGbkText(platform::Utf8ToGbk(utf8Text));
}

std::vector<std::uint8_t> EncipherGbkText(std::string_view gbk) {
  // GBK trail bytes are never CR or LF, so line ends can be found in GBK.
  std::size_t lf = 0;
  for (char c : gbk) lf += c == '\n';
  std::vector<std::uint8_t> out;
  out.reserve(gbk.size() + lf);
  auto put = [&](char c) {
    out.push_back(static_cast<std::uint8_t>(c) ^ static_cast<std::uint8_t>(kConfigKey[out.size() % kConfigKey.size()]));
  };
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    char c = gbk[i];
    if (c == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') continue;
    if (c == '\n') put('\r');
    put(c);
  }
  return out;
}

}  // namespace config
