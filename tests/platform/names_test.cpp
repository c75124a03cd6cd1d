// The one name check: version folders, download targets and the operator
// tool's check all go through it, so they can never disagree.
#include "platform/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::IsSafePath;
using platform::IsValidName;

TEST(Names, PlainNamesPass) {
  for (const char* ok : {"Ravik", "Tavor 新纪元", "v1.2", "a b", "x.y", ".hidden", "x..y", "...x", " lead",
                         "COM10", "CONSOLE", "CON1", "console.exe", "客户端.exe"})
    EXPECT_TRUE(IsValidName(ok)) << ok;
}

TEST(Names, NamesThatLeaveTheirFolderOrNameSomethingElseAreRefused) {
  for (const char* bad : {"", "..", "..\\x", "a\\..\\..\\b", "x..", "C:\\Games", "C:", "\\Windows", "/etc", "a/b",
                          "a\\b", "a:b", ".", " ", ". .", "a*", "a?", "a|b", "a<b", "a>b", "a\"b", "CON", "nul",
                          "Aux.txt", "COM1", "lpt9.dat", "aux.tar.gz",
                          // Windows strips a trailing dot or space: the folder made would be "abc".
                          "abc.", "name ", "abc. ",
                          // Console devices, also with an extension.
                          "CONIN$", "conout$", "nul.txt", "NUL .log", "CONIN$.dat"})
    EXPECT_FALSE(IsValidName(bad)) << bad;
  for (std::string bad : {std::string("a\tb"), std::string("a\nb"), std::string("a\x7f"), std::string("a\0b", 3)})
    EXPECT_FALSE(IsValidName(bad));
}

TEST(Names, PathsAreCheckedPartByPart) {
  EXPECT_TRUE(IsSafePath("C:\\Tarnwick\\v1\\game.exe"));
  EXPECT_TRUE(IsSafePath("\\tmp\\dir\\data.pak"));
  EXPECT_TRUE(IsSafePath("D:\\游戏\\客户端.exe"));
  EXPECT_TRUE(IsSafePath("C:\\v1\\x..y\\a.exe"));
  EXPECT_FALSE(IsSafePath("C:\\v1\\..\\..\\Windows\\x.dll"));
  EXPECT_FALSE(IsSafePath("C:\\v1\\"));
  EXPECT_FALSE(IsSafePath("C:\\v1\\\\x"));
  EXPECT_FALSE(IsSafePath("C:x.exe"));
  EXPECT_FALSE(IsSafePath("C:\\abc.\\game.exe"));
  EXPECT_FALSE(IsSafePath("C:\\v1\\CONIN$"));
}

}  // namespace
