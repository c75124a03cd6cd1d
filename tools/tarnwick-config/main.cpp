// tarnwick-config: make, read and check an operator's 配置文件.dat.
// It never damages a file: what it cannot do fully it does not start.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/launcher_config.h"
#include "platform/fs.h"
#include "platform/names.h"
#include "platform/runtime.h"
#include "platform/sha256.h"
#include "platform/system.h"
#include "platform/text_codec.h"
#include "tarnwick_version.h"
#include "tools/tarnwick-config/probe.h"

namespace {

int Usage() {
  std::fputs(
      "usage:\n"
      "  tarnwick-config encode [--force] TEXT DAT\n"
      "                                    key=value text (UTF-8 or GBK) -> enciphered 配置文件.dat;\n"
      "                                    --force replaces a read-only DAT\n"
      "  tarnwick-config decode DAT        print the deciphered text as UTF-8\n"
      "  tarnwick-config check DAT         list the 30 keys and flag what the launcher would misread\n"
      "  tarnwick-config hash FILE...      print each file's 大小= and 校验= lines, to paste after an\n"
      "                                    address key's name (版本一登录器下载exe大小=...)\n"
      "  tarnwick-config fill TEXT --from DIR\n"
      "                                    fill in the 大小 and 校验 keys of TEXT for the files in DIR\n"
      "                                    named like the addresses' file names; other lines unchanged\n"
      "  tarnwick-config probe [--full] [--timeout S] DAT|TEXT\n"
      "                                    ask every address, main and spare, for one byte (--full: the\n"
      "                                    whole file, hashed); exit 1 when a player's install would\n"
      "                                    fail or need a spare\n"
      "  tarnwick-config --version         print the version\n",
      stderr);
  return 2;
}

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

const char* Reason(platform::ReadFailure why) {
  switch (why) {
    case platform::ReadFailure::Missing: return "no such file";
    case platform::ReadFailure::NotRegular: return "not a regular file";
    case platform::ReadFailure::Denied: return "access denied";
    default: return "read error";
  }
}

// The whole file, or a message and nothing. A pipe or device is refused
// before it is opened, so the tool cannot hang on it.
std::optional<platform::Bytes> ReadInput(const std::string& path) {
  platform::ReadFailure why = platform::ReadFailure::None;
  std::optional<platform::Bytes> data;
  switch (platform::KindOfFile(path)) {
    case platform::FileKind::Missing: why = platform::ReadFailure::Missing; break;
    case platform::FileKind::Folder:
    case platform::FileKind::Other: why = platform::ReadFailure::NotRegular; break;
    case platform::FileKind::Regular: data = platform::ReadWholeFile(path, &why); break;
  }
  if (!data) std::fprintf(stderr, "tarnwick-config: cannot read %s: %s\n", path.c_str(), Reason(why));
  return data;
}

std::string_view View(const platform::Bytes& b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

int Encode(const std::string& in, const std::string& out, bool force) {
  if (platform::SameFile(in, out)) {
    std::fprintf(stderr, "tarnwick-config: refusing to overwrite the input %s\n", in.c_str());
    return 2;
  }
  platform::FileKind outKind = platform::KindOfFile(out);
  if (outKind != platform::FileKind::Missing && outKind != platform::FileKind::Regular) {
    std::fprintf(stderr, "tarnwick-config: refusing to replace %s: not a regular file\n", out.c_str());
    return 2;
  }
  bool readOnly = platform::IsReadOnlyFile(out);
  if (readOnly && !force) {
    std::fprintf(stderr, "tarnwick-config: %s is read-only; give --force to replace it\n", out.c_str());
    return 2;
  }
  config::OperatorGbk text;
  {
    std::optional<platform::Bytes> raw = ReadInput(in);
    if (!raw) return 2;
    text = config::OperatorTextToGbk(View(*raw));
  }  // the raw bytes are not needed past here
  if (text.line != 0) {
    std::fprintf(stderr, "tarnwick-config: %s: line %zu, column %zu: character has no GBK form; %s not written\n",
                 in.c_str(), text.line, text.column, out.c_str());
    return 2;
  }
  std::vector<std::uint8_t> dat = config::EncipherGbkText(text.gbk);
  std::string().swap(text.gbk);
  if (readOnly && !platform::MakeWritable(out)) {
    std::fprintf(stderr, "tarnwick-config: cannot clear the read-only mark of %s\n", out.c_str());
    return 2;
  }
  if (!platform::ReplaceFileAtomically(out, View(dat))) {
    std::fprintf(stderr, "tarnwick-config: cannot write %s\n", out.c_str());
    return 2;
  }
  if (dat.size() < config::kMinConfigBytes)
    std::fprintf(stderr, "tarnwick-config: warning: %s is under 10 bytes; the launcher will refuse it\n", out.c_str());
  return 0;
}

int Decode(const std::string& path) {
  std::string text;
  {
    std::optional<platform::Bytes> data = ReadInput(path);
    if (!data) return 2;
    text = config::DecipherToText(*data);
  }
  // CR LF to LF in place.
  std::size_t w = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    text[w++] = text[i];
  }
  text.resize(w);
  Print(text);
  if (!text.empty() && text.back() != '\n') Print("\n");
  return 0;
}

int Check(const std::string& path) {
  std::optional<platform::Bytes> data = ReadInput(path);
  if (!data) return 2;
  config::CheckReport report = config::CheckConfigBytes(*data);
  for (const auto& [key, value] : report.values) Print(key + "=" + value + "\n");
  for (const std::string& p : report.problems) Print("problem: " + p + "\n");
  for (const std::string& w : report.warnings) Print("warn: " + w + "\n");
  if (report.problems.empty()) Print("ok: no problems found\n");
  return report.problems.empty() ? 0 : 1;
}

const char* Reason(platform::HashFileResult r) {
  switch (r) {
    case platform::HashFileResult::CannotOpen: return "cannot open";
    case platform::HashFileResult::ReadFailed: return "read error";
    case platform::HashFileResult::HashFailed: return "the system's SHA-256 failed";
    default: return "stopped";
  }
}

int Hash(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& path : files) {
    platform::Sha256Digest digest{};
    std::uint64_t size = 0;
    platform::HashFileResult r = platform::KindOfFile(path) == platform::FileKind::Regular
                                     ? platform::HashFile(path, digest, {}, &size)
                                     : platform::HashFileResult::CannotOpen;
    if (r != platform::HashFileResult::Ok) {
      std::fprintf(stderr, "tarnwick-config: %s: %s\n", path.c_str(), Reason(r));
      status = 2;
      continue;
    }
    // The note line names the file; encode leaves '#' lines out.
    std::size_t sep = path.find_last_of("/\\");
    Print("# " + (sep == std::string::npos ? path : path.substr(sep + 1)) + "\n大小=" + std::to_string(size) + "\n校验=" +
          platform::DigestToHex(digest) + "\n");
  }
  return status;
}

// One line of the operator's text as it lies on disk: its bytes without the
// line end, and the line end.
struct RawLine {
  std::string body;
  std::string end;
};

int Fill(const std::string& textPath, const std::string& dir) {
  std::optional<platform::Bytes> raw = ReadInput(textPath);
  if (!raw) return 2;
  std::string_view all = View(*raw);
  std::string bom;
  if (all.starts_with("\xEF\xBB\xBF")) {
    bom = "\xEF\xBB\xBF";
    all.remove_prefix(3);
  }
  // Written back in the form it came: UTF-8, or else GBK like the launcher's text.
  bool utf8 = platform::IsValidUtf8(all);
  std::vector<RawLine> lines;
  std::string newline = all.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  for (std::size_t from = 0; from < all.size();) {
    std::size_t lf = all.find('\n', from);
    std::size_t stop = lf == std::string_view::npos ? all.size() : lf;
    std::size_t bodyEnd = stop > from && all[stop - 1] == '\r' ? stop - 1 : stop;
    lines.push_back({std::string(all.substr(from, bodyEnd - from)),
                     std::string(all.substr(bodyEnd, (lf == std::string_view::npos ? stop : lf + 1) - bodyEnd))});
    from = lf == std::string_view::npos ? all.size() : lf + 1;
  }
  auto text = [&](const std::string& body) { return utf8 ? body : platform::GbkToUtf8(body); };
  auto encode = [&](const std::string& u) { return utf8 ? u : platform::Utf8ToGbk(u); };
  // First line of each key, as the launcher reads the first one.
  std::vector<std::pair<std::string, std::size_t>> firstLine;
  auto find = [&](const std::string& key) -> std::optional<std::size_t> {
    for (const auto& [k, n] : firstLine)
      if (k == key) return n;
    return std::nullopt;
  };
  std::vector<std::string> values(lines.size());
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string line = text(lines[n].body);
    std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string key = line.substr(0, eq);
    if (!find(key)) firstLine.emplace_back(key, n);
    values[n] = line.substr(eq + 1);
  }
  // New lines go after the line of the given index.
  std::vector<std::vector<std::string>> after(lines.size());
  int missing = 0, filled = 0;
  for (const config::IntegrityKey& k : config::IntegrityKeys()) {
    if (k.part != config::IntegrityPart::Size) continue;
    std::optional<std::size_t> address = find(k.fileKey);
    if (!address || values[*address].empty()) continue;
    std::string name = platform::TextAfterLastSlash(values[*address]);
    if (!platform::IsValidName(name)) {
      Print("skip " + k.fileKey + ": the address names no usable file\n");
      continue;
    }
    std::string path = dir + "\\" + name;
    platform::Sha256Digest digest{};
    std::uint64_t size = 0;
    if (platform::KindOfFile(path) != platform::FileKind::Regular ||
        platform::HashFile(path, digest, {}, &size) != platform::HashFileResult::Ok) {
      Print("missing " + k.fileKey + ": no file " + name + " in " + dir + "\n");
      ++missing;
      continue;
    }
    std::string sizeLine = k.fileKey + "大小=" + std::to_string(size);
    std::string hashLine = k.fileKey + "校验=" + platform::DigestToHex(digest);
    std::optional<std::size_t> sizeAt = find(k.fileKey + "大小"), hashAt = find(k.fileKey + "校验");
    if (sizeAt) lines[*sizeAt].body = encode(sizeLine);
    else after[*address].push_back(sizeLine);
    if (hashAt) lines[*hashAt].body = encode(hashLine);
    else after[sizeAt ? *sizeAt : *address].push_back(hashLine);
    Print("filled " + k.fileKey + ": " + name + ", " + std::to_string(size) + " bytes\n");
    ++filled;
  }
  std::string out = bom;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    out += lines[n].body;
    std::string end = lines[n].end;
    if (end.empty() && !after[n].empty()) end = newline;
    out += end;
    for (const std::string& add : after[n]) out += encode(add) + newline;
  }
  if (out != std::string(View(*raw)) && !platform::ReplaceFileAtomically(textPath, out)) {
    std::fprintf(stderr, "tarnwick-config: cannot write %s\n", textPath.c_str());
    return 2;
  }
  if (filled == 0 && missing == 0) Print("no download addresses in " + textPath + "\n");
  return missing ? 1 : 0;
}

// A 配置文件.dat, or the operator's text form of one.
std::optional<config::Configuration> ReadAnyConfig(const std::string& path) {
  std::optional<platform::Bytes> data = ReadInput(path);
  if (!data) return std::nullopt;
  std::string text = config::DecipherToText(*data);
  bool enciphered = false;
  for (const config::ConfigKey& k : config::ConfigKeys()) enciphered |= !config::LookupConfigValue(text, k.name).empty();
  if (!enciphered) {
    config::OperatorGbk gbk = config::OperatorTextToGbk(View(*data));
    if (gbk.line == 0) text = config::DecipherToText(config::EncipherGbkText(gbk.gbk));
  }
  config::Configuration cfg;
  config::ApplyConfigText(text, cfg);
  return cfg;
}

int Probe(const std::string& path, const tool::ProbeOptions& options) {
  std::optional<config::Configuration> cfg = ReadAnyConfig(path);
  if (!cfg) return 2;
  std::vector<tool::ProbeTarget> targets = tool::ProbeTargets(*cfg);
  if (targets.empty()) {
    Print("no download addresses configured in " + path + "\n");
    return 1;
  }
  std::vector<tool::ProbeOutcome> outcomes = tool::RunProbes(targets, options);
  Print(tool::ProbeReport(targets, outcomes, options.full));
  for (const tool::ProbeOutcome& o : outcomes)
    if (!o.problems.empty()) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  bool force = false;
  if (args.size() >= 2 && args[1] == "encode") {
    std::vector<std::string> rest;
    for (std::size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--force") force = true;
      else rest.push_back(args[i]);
    }
    if (rest.size() == 2) return Encode(rest[0], rest[1], force);
    return Usage();
  }
  if (args.size() == 2 && args[1] == "--version") {
    Print("tarnwick-config " TARNWICK_VERSION_TEXT "\n");
    return 0;
  }
  if (args.size() == 3 && args[1] == "decode") return Decode(args[2]);
  if (args.size() == 3 && args[1] == "check") return Check(args[2]);
  if (args.size() >= 3 && args[1] == "hash") return Hash({args.begin() + 2, args.end()});
  if (args.size() == 5 && args[1] == "fill" && args[3] == "--from") return Fill(args[2], args[4]);
  if (args.size() >= 3 && args[1] == "probe") {
    tool::ProbeOptions options;
    std::vector<std::string> rest;
    for (std::size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--full") {
        options.full = true;
      } else if (args[i] == "--timeout" && i + 1 < args.size()) {
        int seconds = platform::ToInteger(args[++i]);
        if (seconds <= 0) return Usage();
        options.timeoutMs = seconds * 1000;
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() == 1) return Probe(rest[0], options);
  }
  return Usage();
}
