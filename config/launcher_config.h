// The operator's configuration: 配置文件.dat beside the program, GBK key=value
// lines separated by CR LF, enciphered with a repeating 16-byte XOR key.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sha256.h"

namespace config {

inline constexpr std::string_view kConfigKey = "R3T8V1N6H4C9L2P7";
inline constexpr std::string_view kConfigFileName = "配置文件.dat";
inline constexpr std::size_t kMinConfigBytes = 10;

struct LauncherConfig {
  std::string homePageUrl;
  std::string logoImageUrl;
  std::string ageNoticeText;
  std::string topUpUrl;
  std::string registerUrl;
  std::string customerServiceUrl;
  // Optional "下载连接数": connections per install, 1 to 8.
  int downloadConnections = 4;
};

// What the operator states about one download, from the optional keys
// 版本N登录器下载exe大小 / 校验 / 镜像 (and the same for dat). A value that
// does not parse counts as absent, so an old launcher's rules apply.
struct FileIntegrity {
  std::optional<std::uint64_t> size;             // decimal bytes, above 0
  std::optional<platform::Sha256Digest> sha256;  // 64 hex digits, either case
  std::vector<std::string> mirrors;              // spare addresses, in the order given
  bool operator==(const FileIntegrity&) const = default;
};

struct VersionSlot {
  std::string displayName;
  std::string folderName;
  std::string announcement;
  std::string backgroundImage;
  std::string programDownloadUrl;
  std::string dataDownloadUrl;
  FileIntegrity programIntegrity{};
  FileIntegrity dataIntegrity{};
};

struct Configuration {
  LauncherConfig launcher;
  std::array<VersionSlot, 4> slots;  // slots[0] is version 1
};

// Byte j XOR key[j % key.size()]; the same call enciphers and deciphers.
std::vector<std::uint8_t> DecipherConfigBytes(std::span<const std::uint8_t> data, std::string_view key = kConfigKey);

// Value after the first "=" of the first CR LF line whose name equals key byte
// for byte; empty when none does.
std::string LookupConfigValue(std::string_view text, std::string_view key);

// Where a key's value goes.
struct ConfigKey {
  std::string_view name;  // UTF-8
  int slot;               // 0 = launcher-wide, else 1..4
  std::string VersionSlot::* slotField;
  std::string LauncherConfig::* launcherField;
};
// The 30 keys in the order the launcher looks them up.
std::span<const ConfigKey> ConfigKeys();

// The 24 optional integrity keys: for each version and file, size, hash and
// spare addresses. Not among the 30: a launcher without them ignores them.
enum class IntegrityPart { Size, Sha256, Mirrors };
struct IntegrityKey {
  std::string name;      // UTF-8, e.g. 版本一登录器下载exe大小
  std::string fileKey;   // the address key it belongs to, e.g. 版本一登录器下载exe
  int slot;              // 1..4
  bool program;          // exe (true) or dat
  IntegrityPart part;
};
std::span<const IntegrityKey> IntegrityKeys();
const IntegrityKey* FindIntegrityKey(std::string_view name);

// The value forms; nothing when malformed. Sizes are plain decimal digits
// without sign or blanks, above 0 and within 64 bits. Mirrors are
// "|"-separated http:// or https:// addresses with a host and no blanks; one
// bad address makes the whole value malformed.
std::optional<std::uint64_t> ParseSizeValue(std::string_view value);
std::optional<platform::Sha256Digest> ParseSha256Value(std::string_view value);
std::optional<std::vector<std::string>> ParseMirrorsValue(std::string_view value);
// Whether a non-empty value of this part parses.
bool IsWellFormedIntegrityValue(IntegrityPart part, std::string_view value);

// The optional key for the number of download connections; absent or bad
// means the default.
inline constexpr std::string_view kDownloadConnectionsKey = "下载连接数";
inline constexpr int kDefaultDownloadConnections = 4;
// 1 to 8 as plain decimal digits; nothing otherwise.
std::optional<int> ParseDownloadConnections(std::string_view value);

// Deciphers file bytes into UTF-8 text: the part before the first zero byte,
// decoded from GBK. *validGbk says whether every byte decoded.
std::string DecipherToText(std::span<const std::uint8_t> data, bool* validGbk = nullptr);

// Fills every field from deciphered UTF-8 text.
void ApplyConfigText(std::string_view text, Configuration& out);

// Unreadable: present but cannot be read (no access, a folder, a device).
enum class LoadResult { Ok, Missing, Unreadable, TooShort };
// Reads path; on Ok, out holds the configuration. Shows no message.
LoadResult ReadConfigFile(const std::string& path, Configuration& out);
// The log's line for a loaded file: the path, how many keys have a value and
// the four version names; never the file's text.
std::string ConfigSummary(const std::string& path, const Configuration& cfg);

// The launcher's load: GetRunDirectory + "\配置文件.dat", with the messages
// (caption "错误", no icon) when the file is missing, unreadable or too short.
// A file that is there but cannot be read (a folder of that name, no read
// access) counts as damaged, not as missing.
[[nodiscard]] bool LoadLauncherConfig(Configuration& out);
// The same for a file at path.
[[nodiscard]] bool LoadLauncherConfigFrom(const std::string& path, Configuration& out);
inline constexpr std::string_view kConfigMissingText = "配置文件不存在！请将 配置文件.dat 放在程序同目录下。";
inline constexpr std::string_view kConfigDamagedText = "配置文件为空或损坏！";

// GBK text with CR LF line ends, enciphered: what an operator ships.
std::vector<std::uint8_t> EncodeConfigText(std::string_view utf8Text);
// The same from text already in GBK: line ends made CR LF, then enciphered.
std::vector<std::uint8_t> EncipherGbkText(std::string_view gbk);

}  // namespace config
