// tarnwick-config: make, read and check an operator's 配置文件.dat.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "config/config_check.h"
#include "config/launcher_config.h"
#include "platform/fs.h"
#include "platform/system.h"

namespace {

int Usage() {
  std::fputs(
      "usage:\n"
      "  tarnwick-config encode TEXT DAT   key=value text (UTF-8 or GBK) -> enciphered 配置文件.dat\n"
      "  tarnwick-config decode DAT        print the deciphered text as UTF-8\n"
      "  tarnwick-config check DAT         list the 30 keys and flag what the launcher would misread\n",
      stderr);
  return 2;
}

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

int Encode(const std::string& in, const std::string& out) {
  if (in == out) {
    std::fprintf(stderr, "tarnwick-config: refusing to overwrite the input %s\n", in.c_str());
    return 2;
  }
  if (!platform::FileExists(in) || platform::FolderExists(in)) {
    std::fprintf(stderr, "tarnwick-config: cannot read %s\n", in.c_str());
    return 2;
  }
  std::optional<platform::Bytes> read = platform::ReadWholeFile(in);
  if (!read) {
    std::fprintf(stderr, "tarnwick-config: cannot read %s\n", in.c_str());
    return 2;
  }
  platform::Bytes& raw = *read;
  std::string text = config::OperatorTextToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
  std::vector<std::uint8_t> dat = config::EncodeConfigText(text);
  if (!platform::ReplaceFileAtomically(out, std::string_view(reinterpret_cast<const char*>(dat.data()), dat.size()))) {
    std::fprintf(stderr, "tarnwick-config: cannot write %s\n", out.c_str());
    return 2;
  }
  if (dat.size() < config::kMinConfigBytes)
    std::fprintf(stderr, "tarnwick-config: warning: %s is under 10 bytes; the launcher will refuse it\n", out.c_str());
  return 0;
}

bool ReadDat(const std::string& path, platform::Bytes& out) {
  if (!platform::FileExists(path) || platform::FolderExists(path)) {
    std::fprintf(stderr, "tarnwick-config: cannot read %s\n", path.c_str());
    return false;
  }
  std::optional<platform::Bytes> read = platform::ReadWholeFile(path);
  if (!read) {
    std::fprintf(stderr, "tarnwick-config: cannot read %s\n", path.c_str());
    return false;
  }
  out = std::move(*read);
  return true;
}

int Decode(const std::string& path) {
  platform::Bytes data;
  if (!ReadDat(path, data)) return 2;
  std::string text = config::DecipherToText(data);
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf += text[i];
  }
  Print(lf);
  if (!lf.empty() && lf.back() != '\n') Print("\n");
  return 0;
}

int Check(const std::string& path) {
  platform::Bytes data;
  if (!ReadDat(path, data)) return 2;
  config::CheckReport report = config::CheckConfigBytes(data);
  for (const auto& [key, value] : report.values) Print(key + "=" + value + "\n");
  for (const std::string& p : report.problems) Print("problem: " + p + "\n");
  if (report.problems.empty()) Print("ok: no problems found\n");
  return report.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  if (args.size() == 4 && args[1] == "encode") return Encode(args[2], args[3]);
  if (args.size() == 3 && args[1] == "decode") return Decode(args[2]);
  if (args.size() == 3 && args[1] == "check") return Check(args[2]);
  return Usage();
}
