// tarnwick-config: make, read and check an operator's 配置文件.dat.
// It never damages a file: what it cannot do fully it does not start.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/launcher_config.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "platform/text_codec.h"
#include "tarnwick_version.h"

namespace {

int Usage() {
  std::fputs(
      "usage:\n"
      "  tarnwick-config encode [--force] TEXT DAT\n"
      "                                    key=value text (UTF-8 or GBK) -> enciphered 配置文件.dat;\n"
      "                                    --force replaces a read-only DAT\n"
      "  tarnwick-config decode DAT        print the deciphered text as UTF-8\n"
      "  tarnwick-config check DAT         list the 30 keys and flag what the launcher would misread\n"
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
  if (report.problems.empty()) Print("ok: no problems found\n");
  return report.problems.empty() ? 0 : 1;
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
  return Usage();
}
