// The versions module: paths built once from the configured slot, the two
// lookup orders, and what "installed" means.
#include "config/versions.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

config::VersionSlot Slot(std::string name, std::string folder, std::string program = "", std::string data = "") {
  return {std::move(name), std::move(folder), "", "", std::move(program), std::move(data)};
}

TEST(VersionPaths, ProgramIsTheTextAfterTheLastSlashOfItsAddress) {
  struct Row {
    const char* program;
    const char* exe;  // "" when the start button must open nothing
  };
  for (Row r : {Row{"http://h/files/game1/login.exe", "D:\\run\\v1\\login.exe"},
                Row{"login.exe", "D:\\run\\v1\\login.exe"}, Row{"http://h/files/", ""}, Row{"", ""},
                Row{"http://h/a/b?x=1/c.exe", "D:\\run\\v1\\c.exe"}, Row{"http://h/nul.exe", ""},
                Row{"http://h/a.exe?x=1", ""}}) {
    config::VersionPaths p = config::ComputeVersionPaths("D:\\run", Slot("V", "v1", r.program, "http://h/d/data.pak"));
    EXPECT_EQ(p.exePath, r.exe) << r.program;
    EXPECT_EQ(p.folder, "D:\\run\\v1");
    EXPECT_EQ(p.dataPath, "D:\\run\\v1\\data.pak");
    EXPECT_EQ(p.iniPath, "D:\\run\\v1\\Game.ini");
  }
}

TEST(VersionPaths, ARefusedFolderNameBuildsNoPathAtAll) {
  for (const char* folder : {"", "abc.", "CONIN$", "..", "a\\b", "nul.txt", "x "}) {
    config::VersionPaths p = config::ComputeVersionPaths("D:\\run", Slot("V", folder, "http://h/g.exe", "http://h/d"));
    EXPECT_TRUE(p.folder.empty() && p.dataPath.empty() && p.programPath.empty() && p.iniPath.empty() &&
                p.exePath.empty())
        << folder;
  }
  EXPECT_EQ(config::ComputeVersionPaths("D:\\run", Slot("V", "x..y")).folder, "D:\\run\\x..y");
}

TEST(Versions, LookupOrdersAndInstalledMarks) {
  config::Versions v;
  v.Load({Slot("A", "one"), Slot("B", "two"), Slot("C", "three"), Slot("C", "four")}, "D:\\run");
  EXPECT_EQ(v.SelectedName(), "A");
  EXPECT_EQ(v.FindByName("C"), 4);       // 1, 2, 4, 3
  EXPECT_EQ(v.FolderForName("C"), "three");  // 1, 2, 3, 4
  EXPECT_EQ(v.FindByName("Z"), 0);
  EXPECT_EQ(v.PathsForName("Z"), nullptr);
  EXPECT_FALSE(v.IsInstalled(2));
  v.MarkInstalled(2);
  EXPECT_TRUE(v.IsInstalled(2));
  // A renamed slot no longer counts: the mark names the old display name.
  v.SetSlot(2, Slot("B2", "two"));
  EXPECT_FALSE(v.IsInstalled(2));
  v.MarkInstalled(2);
  v.MarkNotInstalled(2);
  EXPECT_FALSE(v.IsInstalled(2));
  v.Select("C");
  EXPECT_EQ(v.SelectedName(), "C");
}

TEST(Versions, AnInstallMarkNeverMakesARefusedFolderInstalled) {
  config::Versions v;
  v.Load({Slot("A", "abc."), Slot("", "unnamed"), Slot("", ""), Slot("D", "four")}, "D:\\run");
  v.MarkInstalled(1);
  EXPECT_FALSE(v.IsInstalled(1));
  EXPECT_EQ(v.PathsForName("A"), nullptr);
  // An unnamed slot with a folder matches its empty mark.
  EXPECT_TRUE(v.IsInstalled(2));
  EXPECT_FALSE(v.IsInstalled(3));
}

TEST(Versions, InstalledMeansIntactWhereASizeIsConfigured) {
  testing_support::TempDir run;
  ASSERT_TRUE(platform::CreateFolder(run.path() + "\\v1"));
  ASSERT_TRUE(platform::WriteFileBytes(run.path() + "\\v1\\g.exe", std::string_view("MZ12")));
  ASSERT_TRUE(platform::WriteFileBytes(run.path() + "\\v1\\d.pak", std::string_view("data")));
  struct Row {
    std::optional<std::uint64_t> programSize, dataSize;
    const char* damaged;  // relative to the run folder; "" when intact
  };
  for (Row r : {Row{std::nullopt, std::nullopt, ""}, Row{4, std::nullopt, ""}, Row{4, 4, ""},
                Row{5, 4, "v1\\g.exe"}, Row{3, std::nullopt, "v1\\g.exe"}, Row{4, 400, "v1\\d.pak"},
                Row{std::nullopt, 0, "v1\\d.pak"}, Row{9, 9, "v1\\g.exe"}}) {
    config::VersionSlot slot = Slot("A", "v1", "http://h/g.exe", "http://h/d.pak");
    slot.programIntegrity.size = r.programSize;
    slot.dataIntegrity.size = r.dataSize;
    config::Versions v;
    v.Load({slot, Slot("B", "v2", "http://h/g.exe", "http://h/gone.pak"), Slot("", ""), Slot("", "")}, run.path());
    std::string want = *r.damaged ? run.path() + "\\" + r.damaged : "";
    EXPECT_EQ(v.FirstDamagedFile(1), want) << r.damaged;
    EXPECT_EQ(v.FilesIntact(1), !*r.damaged);
  }
  // A configured size for a file that is not there at all.
  config::VersionSlot gone = Slot("B", "v1", "http://h/g.exe", "http://h/gone.pak");
  gone.dataIntegrity.size = 1;
  config::Versions v;
  v.Load({gone, Slot("", ""), Slot("", ""), Slot("", "")}, run.path());
  EXPECT_FALSE(v.FilesIntact(1));
}

}  // namespace
