// The engine against the system's own private-profile functions. Run under a
// Chinese locale (LANG=zh_CN.UTF-8), so the system reads and writes GBK.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/fs.h"
#include "platform/ini_file.h"
#include "platform/text_codec.h"
#include "platform/win32/wide.h"
#include "support/ini_cases.h"
#include "support/temp_dir.h"

namespace {
using platform::win32::Narrow;
using platform::win32::Widen;
using testing_support::Escaped;
using testing_support::IniOp;

// What the launcher's runtime did around the system's functions: names empty
// after their leading bytes of value 32 or lower never reach the system, and
// the value buffer holds 10240 characters.
std::string_view SkipLow(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  return s;
}

std::string SystemRead(const std::string& file, const IniOp& op) {
  if (SkipLow(file).empty() || SkipLow(op.section).empty() || SkipLow(*op.key).empty()) return {};
  std::wstring buf(platform::kIniMaxValueBytes + 1, L'\0');
  DWORD n = ::GetPrivateProfileStringW(Widen(op.section).c_str(), Widen(*op.key).c_str(), Widen(*op.value).c_str(),
                                       buf.data(), static_cast<DWORD>(buf.size()), Widen(file).c_str());
  buf.resize(n);
  return Narrow(buf);
}

bool SystemWrite(const std::string& file, const IniOp& op) {
  std::wstring section = Widen(op.section), key = op.key ? Widen(*op.key) : L"", value = op.value ? Widen(*op.value) : L"";
  return ::WritePrivateProfileStringW(section.c_str(), op.key ? key.c_str() : nullptr,
                                      op.key && op.value ? value.c_str() : nullptr, Widen(file).c_str()) != 0;
}

std::string EngineRead(const std::string& file, const IniOp& op) {
  return platform::ReadIniItem(file, op.section, *op.key, *op.value);
}

bool EngineWrite(const std::string& file, const IniOp& op) {
  std::optional<std::string_view> key, value;
  if (op.key) key = *op.key;
  if (op.value) value = *op.value;
  return platform::WriteIniItem(file, op.section, key, value);
}

std::string Show(const testing_support::IniRun& run) {
  std::string s;
  for (const auto& r : run.results) s += "  \"" + Escaped(r.size() > 60 ? r.substr(0, 60) + "..." : r) + "\"\n";
  s += run.final ? "  file: \"" + Escaped(*run.final) + "\"\n" : "  file: none\n";
  return s;
}

TEST(IniDifferential, SystemReadsGbk) {
  // Without the Chinese code page the comparison below would prove nothing.
  ASSERT_EQ(::GetACP(), 936u) << "run with LANG=zh_CN.UTF-8";
}

TEST(IniDifferential, EngineMatchesTheSystem) {
  testing_support::TempDir dir;
  const bool verbose = std::getenv("TARNWICK_INI_VERBOSE") != nullptr;
  int n = 0;
  for (const auto& c : testing_support::IniCases()) {
    SCOPED_TRACE(c.name);
    // Separate names: the system keeps the last profile it read in memory.
    std::string tag = std::to_string(n++);
    auto sys = testing_support::RunIniCase(c, dir.path() + "\\sys" + tag + ".ini", SystemRead, SystemWrite);
    auto eng = testing_support::RunIniCase(c, dir.path() + "\\eng" + tag + ".ini", EngineRead, EngineWrite);
    auto want = testing_support::ExpectedRun(c);
    if (verbose) std::printf("%s\n system:\n%s engine:\n%s", c.name, Show(sys).c_str(), Show(eng).c_str());
    EXPECT_EQ(eng.results, want.results) << Show(eng);
    EXPECT_EQ(eng.final, want.final) << Show(eng);
    if (c.wineDiffers) {
      // Where Wine departs from Windows the engine follows Windows; what the
      // system reads from either file still agrees.
      for (const IniOp& op : c.ops) {
        if (op.kind != IniOp::kRead) continue;
        EXPECT_EQ(SystemRead(dir.path() + "\\eng" + tag + ".ini", op), SystemRead(dir.path() + "\\sys" + tag + ".ini", op))
            << op.section << "/" << *op.key << ": " << c.wineDiffers;
      }
      continue;
    }
    EXPECT_EQ(sys.results, eng.results) << Show(sys) << Show(eng);
    EXPECT_EQ(sys.final, eng.final) << Show(sys) << Show(eng);
  }
}

// The file the engine wrote reads the same through the system's reader.
TEST(IniDifferential, SystemReadsWhatTheEngineWrote) {
  testing_support::TempDir dir;
  std::string path = dir.path() + "\\Game.ini";
  ASSERT_TRUE(platform::WriteIniItem(path, "Config", "Selection", "【Orvane◆Wendal◆Qelmar】|Kestrand"));
  ASSERT_TRUE(platform::WriteIniItem(path, "Config", "ScreenWidth", "1280"));
  ASSERT_TRUE(platform::WriteIniItem(path, "配置", "分辨率", "1280×1024"));
  IniOp op{IniOp::kRead, "Config", "Selection", "", ""};
  EXPECT_EQ(SystemRead(path, op), "【Orvane◆Wendal◆Qelmar】|Kestrand");
  op = {IniOp::kRead, "配置", "分辨率", "", ""};
  EXPECT_EQ(SystemRead(path, op), "1280×1024");
}

}  // namespace
