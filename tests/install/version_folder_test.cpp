#include "games/version_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VersionFolder, PlainNamesPass) {
  for (const char* ok : {"Ravik", "Tavor 新纪元", "v1.2", "a b", "x.y", ".hidden"})
    EXPECT_TRUE(games::IsSafeFolderName(ok)) << ok;
}

TEST(VersionFolder, NamesThatLeaveTheProgramDirectoryAreRefused) {
  for (const char* bad : {"", "..", "..\\x", "a\\..\\..\\b", "x..", "...x", "C:\\Games", "C:", "\\Windows", "/etc",
                          "a/b", "a\\b", "a:b", ".", " ", ". .", "a*", "a?", "a|b", "a<b", "a>b", "a\"b", "CON",
                          "nul", "Aux.txt", "COM1", "lpt9.dat"})
    EXPECT_FALSE(games::IsSafeFolderName(bad)) << bad;
  EXPECT_FALSE(games::IsSafeFolderName(std::string("a\tb")));
  EXPECT_FALSE(games::IsSafeFolderName(std::string("a\nb")));
  EXPECT_FALSE(games::IsSafeFolderName(std::string("a\x7f")));
  EXPECT_FALSE(games::IsSafeFolderName(std::string("a\0b", 3)));
  EXPECT_TRUE(games::IsSafeFolderName("COM10"));
  EXPECT_TRUE(games::IsSafeFolderName("CONSOLE"));
}

}  // namespace
