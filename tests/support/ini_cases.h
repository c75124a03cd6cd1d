// Game.ini cases shared by the native test (against the recorded results) and
// the Wine test (against the system's own profile functions).
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct IniOp {
  enum Kind { kRead, kWrite };
  Kind kind;
  std::string section;
  std::optional<std::string> key;    // omitted: delete the section
  std::optional<std::string> value;  // read: the default; write: omitted deletes the key
  std::string expected;              // read: the value; write: "ok" or "failed"
};

struct IniCase {
  const char* name;
  std::optional<std::string> initial;  // UTF-8 text stored as GBK; nothing: no file
  std::vector<IniOp> ops;
  std::optional<std::string> final;  // UTF-8 text expected as GBK on disk; nothing: as initial
  // Where the system under Wine is known to differ from Windows: why. The
  // engine follows Windows; the Wine test then checks only the recorded result.
  const char* wineDiffers = nullptr;
};

const std::vector<IniCase>& IniCases();

IniOp Read(std::string section, std::string key, std::string def, std::string expected);
IniOp Write(std::string section, std::optional<std::string> key, std::optional<std::string> value,
            bool ok = true);

// What a run of one case's operations gave: each operation's result and the
// file afterwards (GBK bytes).
struct IniRun {
  std::vector<std::string> results;
  std::optional<std::string> final;
};
using IniReader = std::function<std::string(const std::string& file, const IniOp& op)>;
using IniWriter = std::function<bool(const std::string& file, const IniOp& op)>;
// Lays the case's file at path (a "\" path), runs its operations, reads the file back.
IniRun RunIniCase(const IniCase& c, const std::string& path, const IniReader& read, const IniWriter& write);
// The case's expected results and file as GBK bytes.
IniRun ExpectedRun(const IniCase& c);

// Bytes with control and non-ASCII bytes escaped, for failure messages.
std::string Escaped(const std::string& bytes);

}  // namespace testing_support
