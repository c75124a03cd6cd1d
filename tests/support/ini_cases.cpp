#include "support/ini_cases.h"

#include <cstdio>

#include "platform/fs.h"
#include "platform/text_codec.h"

namespace testing_support {

IniOp Read(std::string section, std::string key, std::string def, std::string expected) {
  return IniOp{IniOp::kRead, std::move(section), std::move(key), std::move(def), std::move(expected)};
}

IniOp Write(std::string section, std::optional<std::string> key, std::optional<std::string> value, bool ok) {
  return IniOp{IniOp::kWrite, std::move(section), std::move(key), std::move(value), ok ? "ok" : "failed"};
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 32 || c >= 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

IniRun RunIniCase(const IniCase& c, const std::string& path, const IniReader& read, const IniWriter& write) {
  if (c.initial && !platform::WriteFileBytes(path, platform::Utf8ToGbk(*c.initial))) return {};
  IniRun run;
  for (const IniOp& op : c.ops)
    run.results.push_back(op.kind == IniOp::kRead ? read(path, op) : (write(path, op) ? "ok" : "failed"));
  if (auto bytes = platform::ReadWholeFile(path)) run.final = std::string(bytes->begin(), bytes->end());
  return run;
}

IniRun ExpectedRun(const IniCase& c) {
  IniRun run;
  for (const IniOp& op : c.ops) run.results.push_back(op.expected);
  if (c.final) run.final = platform::Utf8ToGbk(*c.final);
  else if (c.initial) run.final = platform::Utf8ToGbk(*c.initial);
  return run;
}

namespace {

const char kDefaultGameIni[] =
    "[Config]\r\n"
    "ServerName=Kestrand\r\n"
    "ServerID=1000\r\n"
    "ServerIP=127.0.0.1\r\n"
    "ServerPort=39169\r\n"
    "ScreenWidth=1024\r\n"
    "ScreenHeight=768\r\n"
    "WindowMode=1\r\n"
    "Selection=【Orvane◆Wendal◆Qelmar】|Kestrand\r\n"
    "ClassicMode=1";

std::vector<IniCase> MakeCases() {
  std::vector<IniCase> c;

  c.push_back({"DefaultFileReadAndChanged",
               kDefaultGameIni,
               {
                   Read("Config", "ServerName", "", "Kestrand"),
                   Read("config", "SELECTION", "", "【Orvane◆Wendal◆Qelmar】|Kestrand"),
                   Read("Config", "ClassicMode", "0", "1"),
                   Read("Config", "Missing", "1024", "1024"),
                   Read("Other", "ServerName", "none", "none"),
                   Write("Config", "WindowMode", "0"),
                   Write("Config", "ScreenWidth", "1280"),
                   Write("Config", "ScreenHeight", "1024"),
                   Write("Config", "WindowMode", "0"),  // unchanged value
                   Read("Config", "ScreenWidth", "1024", "1280"),
                   Read("Config", "WindowMode", "1", "0"),
               },
               "[Config]\r\n"
               "ServerName=Kestrand\r\n"
               "ServerID=1000\r\n"
               "ServerIP=127.0.0.1\r\n"
               "ServerPort=39169\r\n"
               "ScreenWidth=1280\r\n"
               "ScreenHeight=1024\r\n"
               "WindowMode=0\r\n"
               "Selection=【Orvane◆Wendal◆Qelmar】|Kestrand\r\n"
               "ClassicMode=1",
               "Wine rewrites the whole file and ends its last line; Windows changes only the key's line"});

  c.push_back({"NewKeyAfterUnterminatedLastLine",
               kDefaultGameIni,
               {Write("Config", "Resolution", "1280×1024"), Read("Config", "Resolution", "", "1280×1024")},
               std::string(kDefaultGameIni) + "\r\nResolution=1280×1024\r\n"});

  c.push_back({"NewSectionAtEnd",
               "[Config]\r\nWindowMode=1",
               {Write("服务器", "名字", "【测试】"), Read("服务器", "名字", "", "【测试】"),
                Read("Config", "WindowMode", "", "1")},
               "[Config]\r\nWindowMode=1\r\n[服务器]\r\n名字=【测试】\r\n"});

  c.push_back({"MissingFile",
               std::nullopt,
               {Read("Config", "WindowMode", "1", "1"), Write("Config", "WindowMode", std::nullopt),
                Write("Config", std::nullopt, std::nullopt)},
               std::nullopt});

  c.push_back({"MissingFileCreated",
               std::nullopt,
               {Write("Config", "WindowMode", "0"), Read("Config", "WindowMode", "1", "0")},
               "[Config]\r\nWindowMode=0\r\n"});

  c.push_back({"SpacingAroundNamesAndEquals",
               "  [Config]  \r\n"
               "   ScreenWidth   =   1280   \r\n"
               "\tScreenHeight\t=\t1 024\t\r\n"
               "WindowMode=\r\n"
               "ServerName  =\r\n",
               {
                   Read("Config", "ScreenWidth", "", "1280"),
                   Read("  Config  ", "  screenwidth  ", "", "1280"),
                   Read("Config", "ScreenHeight", "", "1 024"),
                   Read("Config", "WindowMode", "1", ""),
                   Read("Config", "ServerName", "x", ""),
               },
               "  [Config]  \r\n"
               "   ScreenWidth   =   1280   \r\n"
               "\tScreenHeight\t=\t1 024\t\r\n"
               "WindowMode=\r\n"
               "ServerName  =\r\n"});

  c.push_back({"SpacedKeyChangedInPlace",
               "[Config]\r\n  ScreenWidth = 800 \r\n\tWindowMode\t=\t1\t\r\n; keep me\r\n",
               {Write("Config", "ScreenWidth", "1024"), Read("Config", "ScreenWidth", "", "1024"),
                Read("Config", "WindowMode", "", "1")},
               "[Config]\r\n  ScreenWidth=1024\r\n\tWindowMode\t=\t1\t\r\n; keep me\r\n",
               "Wine rewrites the whole file from what it parsed, dropping the blanks of every line; Windows "
               "changes only the line of the key"});

  c.push_back({"DuplicateKeysAndSections",
               "[A]\r\nk=1\r\nK=2\r\n[B]\r\nk=3\r\n[a]\r\nk=4\r\nj=5\r\n",
               {
                   Read("A", "k", "", "1"),
                   Read("b", "K", "", "3"),
                   Read("A", "j", "none", "none"),  // only the first [A] is searched
                   Write("A", "k", "9"),
                   Write("A", "j", "6"),
                   Read("A", "k", "", "9"),
                   Read("A", "j", "", "6"),
               },
               "[A]\r\nk=9\r\nK=2\r\nj=6\r\n[B]\r\nk=3\r\n[a]\r\nk=4\r\nj=5\r\n"});

  c.push_back({"DeleteKeysAndSections",
               "[S]\r\na=1\r\nb=2\r\n[T]\r\nc=3\r\n[s]\r\nd=4\r\n",
               {
                   Write("S", "b", std::nullopt),
                   Write("S", "d", std::nullopt),  // found in the second [S]
                   Write("S", "zz", std::nullopt),
                   Read("S", "b", "gone", "gone"),
                   Write("T", std::nullopt, std::nullopt),
                   Read("T", "c", "gone", "gone"),
               },
               "[S]\r\na=1\r\n[s]\r\n"});

  c.push_back({"DeleteFirstSectionOfTheName",
               "[S]\r\na=1\r\n[T]\r\nc=3\r\n[s]\r\nd=4\r\n",
               {Write("S", std::nullopt, std::nullopt), Read("S", "d", "gone", "4"), Read("T", "c", "", "3"),
                Write("S", std::nullopt, std::nullopt), Write("S", std::nullopt, std::nullopt)},
               "[T]\r\nc=3\r\n"});

  c.push_back({"DeleteEntryWithoutEquals",
               "[S]\r\nnoeq\r\nk=1",
               {Write("S", "noeq", std::nullopt), Write("S", "k", std::nullopt), Read("S", "k", "d", "d")},
               "[S]\r\n"});

  c.push_back({"EmptyFileAndBareHeader",
               "",
               {Write("S", "k", "\"q\""), Read("S", "k", "", "q"), Write("T", "k", ""), Read("T", "k", "d", "")},
               "[S]\r\nk=\"q\"\r\n[T]\r\nk=\r\n"});

  c.push_back({"NewKeyUnderLastHeaderWithoutBreak",
               "[A]\r\nx=1\r\n[S]",
               {Write("S", "k", "v"), Read("S", "k", "", "v")},
               "[A]\r\nx=1\r\n[S]\r\nk=v\r\n"});

  c.push_back({"BareLineFeeds",
               "[S]\na=1\nb=2\n\n[T]\nc=3\n",
               {
                   Read("S", "b", "", "2"),
                   Write("S", "a", "9"),
                   Write("S", "n", "new"),
                   Read("T", "c", "", "3"),
                   Read("S", "n", "", "new"),
               },
               "[S]\na=9\nb=2\nn=new\r\n\n[T]\nc=3\n",
               "Wine rewrites the whole file with CR LF and without its blank lines; Windows keeps the "
               "lines it does not change"});

  c.push_back({"QuotedValues",
               "[S]\r\nq1=\"quoted text\"\r\nq2='single'\r\nq3=\"mismatch'\r\nq4=\"\r\nq5=\"\"\r\n"
               "q6=  \" spaced \"  \r\nq7=\"a\"b\"\r\n",
               {
                   Read("S", "q1", "", "quoted text"),
                   Read("S", "q2", "", "single"),
                   Read("S", "q3", "", "\"mismatch'"),
                   Read("S", "q4", "", "\""),
                   Read("S", "q5", "x", ""),
                   Read("S", "q6", "", " spaced "),
                   Read("S", "q7", "", "a\"b"),
                   Read("S", "missing", "\"def\"", "def"),
                   Read("S", "missing", "trailing   ", "trailing"),
                   Read("S", "missing", "  lead", "  lead"),
               },
               std::nullopt});

  c.push_back({"DefaultOfBlanksOnly",
               "[S]\r\n",
               {Read("S", "missing", "   ", "")},
               std::nullopt,
               "Wine keeps one blank of a default made only of blanks; Windows strips every trailing blank "
               "of the default"});

  c.push_back({"LinesWithoutEquals",
               "[S]\r\nnoequals\r\nkey=v\r\n[broken\r\nafter=1\r\n",
               {
                   Read("S", "noequals", "dflt", "dflt"),
                   Read("S", "after", "", "1"),  // "[broken" is not a header
                   Read("S", "[broken", "dflt", "dflt"),
                   Write("S", "noequals", "x"),
                   Read("S", "noequals", "", "x"),
               },
               "[S]\r\nnoequals=x\r\nkey=v\r\n[broken\r\nafter=1\r\n"});

  c.push_back({"Comments",
               "; top comment\r\n[S]\r\n;c=1\r\n# note\r\nk=v ; not a comment\r\n",
               {
                   Read("S", "k", "", "v ; not a comment"),
                   Read("S", ";c", "", "1"),  // comments are not special to the reader
                   Write("S", "n", "1"),
               },
               "; top comment\r\n[S]\r\n;c=1\r\n# note\r\nk=v ; not a comment\r\nn=1\r\n"});

  c.push_back({"BlankLinesBeforeNextSection",
               "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n",
               {Write("S", "c", "3"), Read("S", "c", "", "3")},
               "[S]\r\na=1\r\nc=3\r\n\r\n[T]\r\nb=2\r\n",
               "Wine drops blank lines when it rewrites the file"});

  c.push_back({"SectionHeaderForms",
               "[Config] trailing\r\nk=1\r\n[ Spaced ]\r\nk=2\r\n[a]b]\r\nk=3\r\nbefore=0\r\n",
               {
                   Read("Config", "k", "", "1"),
                   Read("Spaced", "k", "", "2"),
                   Read("a]b", "k", "", "3"),
               },
               std::nullopt});

  c.push_back({"KeysBeforeFirstSection",
               "k=top\r\n[S]\r\nk=s\r\n",
               {Read("S", "k", "", "s"), Write("S", "k", "t")},
               "k=top\r\n[S]\r\nk=t\r\n"});

  c.push_back({"ValueWrittenWithoutLeadingBlanks",
               "[S]\r\n",
               {Write("S", "k", "  v  "), Read("S", "k", "", "v")},
               "[S]\r\nk=v  \r\n"});

  c.push_back({"GbkNamesAndValues",
               "[配置]\r\n名字=【Orvane◆Wendal◆Qelmar】|Kestrand\r\n",
               {
                   Read("配置", "名字", "", "【Orvane◆Wendal◆Qelmar】|Kestrand"),
                   Write("配置", "名字", "×"),
                   Write("配置", "窗口", "◆"),
                   Read("配置", "窗口", "", "◆"),
               },
               "[配置]\r\n名字=×\r\n窗口=◆\r\n"});

  // GBK trail bytes that look like "]" or ASCII letters: 誡 is D5 5D, 癆 B0 41, 癮 B0 61.
  c.push_back({"GbkTrailBytes",
               "[a]誡\r\nk=1\r\n[癆]\r\n癆=2\r\n",
               {
                   Read("a", "k", "", "1"),
                   Read("癮", "癆", "none", "none"),
                   Read("癆", "癮", "none", "none"),
                   Read("癆", "癆", "", "2"),
               },
               std::nullopt});

  c.push_back({"OtherBlanks",
               "[S]\r\nk=\x1Av\x1A\r\n\x1Aj\x1A=\v1\f\r\nw=\xE3\x80\x80w\xE3\x80\x80\r\n",
               {Read("S", "k", "", "v"), Read("S", "j", "", "1"), Read("S", "w", "", "\xE3\x80\x80w\xE3\x80\x80")},
               std::nullopt});

  c.push_back({"LongValueCapped",
               "[S]\r\nk=" + std::string(12000, 'x') + "\r\n",
               {Read("S", "k", "", std::string(10240, 'x'))},
               std::nullopt});

  c.push_back({"EmptyNamesGiveEmptyText",
               "[S]\r\nk=v\r\n",
               {Read("S", "", "dflt", ""), Read("  ", "k", "dflt", ""), Read("S", " \t", "dflt", "")},
               std::nullopt});

  return c;
}

}  // namespace

const std::vector<IniCase>& IniCases() {
  static const std::vector<IniCase> cases = MakeCases();
  return cases;
}

}  // namespace testing_support
