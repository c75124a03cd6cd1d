// Self-installation over real files: drive letters are mapped to folders of a
// temporary tree, so "D:\Tarnwick游戏" is TMP\D\Tarnwick游戏.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/default_config.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/shortcut.h"
#include "app/self_install.h"
#include "app/single_instance.h"
#include "support/temp_dir.h"

namespace {

using app::SelfInstallOutcome;
using app::SelfInstallSystem;
using app::PrepareOutcome;

class FakeMachine final : public SelfInstallSystem {
 public:
  explicit FakeMachine(std::string root) : root_(std::move(root)) {
    for (char d : std::string("CDEF")) platform::CreateFolder(root_ + "\\" + d);
    platform::CreateFolder(Map("C:\\Desktop"));
  }

  // "X:\rest" -> TMP\X\rest; "X:" -> TMP\X.
  std::string Map(const std::string& path) const {
    if (path.size() < 2 || path[1] != ':') return path;
    char d = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    return root_ + "\\" + d + path.substr(2);
  }

  int DriveType(char letter) override {
    auto it = driveTypes.find(letter);
    return it == driveTypes.end() ? 1 : it->second;
  }
  std::string RunDirectory() override { return runDirectory; }
  std::string ExeFileName() override { return exeName; }
  std::string DesktopFolder() override { return desktop; }
  bool FolderExists(const std::string& path) override { return platform::FolderExists(Map(path)); }
  bool FileExists(const std::string& path) override { return platform::FileExists(Map(path)); }
  platform::ProtectedFolder CreateProtectedFolder(const std::string& path) override {
    if (!platform::CreateFolder(Map(path))) return platform::ProtectedFolder::Failed;
    return rootVolume;
  }
  bool CopyFileTo(const std::string& source, const std::string& target) override {
    copies.push_back(source + " -> " + target);
    if (cutCopiesAt >= 0) {
      // What a full disk leaves: the first bytes under the target's name.
      auto bytes = platform::ReadWholeFile(Map(source));
      std::string head = bytes ? std::string(bytes->begin(), bytes->end()).substr(0, cutCopiesAt) : "";
      return platform::WriteFileBytes(Map(target), std::string_view(head)) && cutCopyReportsSuccess;
    }
    return platform::CopyFileTo(Map(source), Map(target));
  }
  bool DeleteFileAt(const std::string& path) override {
    deletes.push_back(path);
    return platform::DeleteFileAt(Map(path));
  }
  bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) override {
    return platform::WriteFileBytes(Map(path), data);
  }
  bool CreateShortcut(const std::string& linkPath, const std::string& target,
                      const std::string& workingDirectory) override {
    return platform::CreateShortcut(Map(linkPath), target, workingDirectory);
  }
  bool SameFileContents(const std::string& a, const std::string& b) override {
    auto x = platform::ReadWholeFile(Map(a)), y = platform::ReadWholeFile(Map(b));
    return x && y && *x == *y;
  }
  bool RunProgram(const std::string& path, std::uint32_t* error) override {
    if (runError) {
      *error = runError;
      return false;
    }
    started.push_back(path);
    // The started copy takes the single-instance mutex a moment later.
    held.insert(std::string(app::kInstanceMutexName));
    return true;
  }
  platform::MutexAcquire AcquireMutex(const std::string& name, int waitMs) override {
    acquires.push_back(name + "|" + std::to_string(waitMs));
    if (!held.count(name)) {
      held.insert(name);
      return platform::MutexAcquire::Acquired;
    }
    // The first start finishes its hand-over while this one waits.
    if (waitMs > 0 && otherStartHandsOver) {
      held.insert(std::string(app::kInstanceMutexName));
      return platform::MutexAcquire::Acquired;
    }
    return platform::MutexAcquire::HeldElsewhere;
  }
  bool MutexExists(const std::string& name) override { return held.count(name) != 0; }
  void ShowMessage(std::string_view text, int flags, std::string_view caption) override {
    messages.push_back(std::string(caption) + "|" + std::to_string(flags) + "|" + std::string(text));
  }
  void Pause(std::uint32_t ms) override { pauses.push_back(ms); }

  // Puts a program file (and optional companions) into dir.
  void PlaceProgram(const std::string& dir, const std::string& name) {
    runDirectory = dir;
    exeName = name;
    std::string mapped = Map(dir);
    for (size_t pos = root_.size() + 1; pos != std::string::npos;) {
      pos = mapped.find('\\', pos + 1);
      platform::CreateFolder(mapped.substr(0, pos));
    }
    ASSERT_TRUE(platform::WriteFileBytes(Map(dir + "\\" + name), std::string_view("MZ program")));
  }
  std::string Read(const std::string& path) const {
    auto bytes = platform::ReadWholeFile(Map(path));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
  }

  std::map<char, int> driveTypes;
  std::string runDirectory;
  std::string exeName = "TarnwickLauncher.exe";
  std::string desktop = "C:\\Desktop\\";
  std::vector<std::string> copies, deletes, started, messages;
  std::vector<std::uint32_t> pauses;
  std::set<std::string> held;  // mutexes some process holds
  std::vector<std::string> acquires;
  bool otherStartHandsOver = false;
  int cutCopiesAt = -1;  // >= 0: copies stop after this many bytes
  bool cutCopyReportsSuccess = false;
  std::uint32_t runError = 0;
  platform::ProtectedFolder rootVolume = platform::ProtectedFolder::Protected;

 private:
  std::string root_;
};

struct InstallTest : ::testing::Test {
  testing_support::TempDir tmp;
  FakeMachine m{tmp.path()};
};

TEST_F(InstallTest, DriveTableTakesFixedDFirstThenFixedEThenCUntested) {
  m.driveTypes = {{'D', 3}, {'E', 3}};
  EXPECT_EQ(app::ChooseInstallRoot(m), "D:\\Tarnwick游戏");

  m.driveTypes = {{'D', 2}, {'E', 3}};  // removable D: is passed over
  EXPECT_EQ(app::ChooseInstallRoot(m), "E:\\Tarnwick游戏");

  m.driveTypes = {{'D', 5}, {'E', 4}, {'C', 1}};  // optical, network; C: not asked
  EXPECT_EQ(app::ChooseInstallRoot(m), "C:\\Tarnwick游戏");
}

TEST(InPlace, FoldsOnlyAsciiCase) {
  EXPECT_TRUE(app::RunsInPlace("d:\\tarnwick游戏", "D:\\Tarnwick游戏"));
  EXPECT_TRUE(app::RunsInPlace("D:\\TARNWICK游戏", "D:\\Tarnwick游戏"));
  EXPECT_FALSE(app::RunsInPlace("D:\\Tarnwick游戏\\", "D:\\Tarnwick游戏"));
  EXPECT_FALSE(app::RunsInPlace("D:\\TARNWI~1", "D:\\Tarnwick游戏"));
  // Beyond ASCII the case counts: Ä/ä, Σ/σ and full-width Ｔ/ｔ differ.
  EXPECT_FALSE(app::RunsInPlace("D:\\Äpfel", "D:\\äpfel"));
  EXPECT_FALSE(app::RunsInPlace("D:\\ΣΠΙΤΙ", "D:\\σπιτι"));
  EXPECT_FALSE(app::RunsInPlace("D:\\Ｔarnwick游戏", "D:\\ｔarnwick游戏"));
}

TEST(FolderOfPath, CutsAtTheLastBackslash) {
  EXPECT_EQ(app::FolderOfPath("C:\\Tarnwick游戏\\TarnwickLauncher (1).exe"), "C:\\Tarnwick游戏");
  EXPECT_EQ(app::FolderOfPath("F:\\a.exe"), "F:");
  EXPECT_EQ(app::FolderOfPath("a.exe"), "a.exe");
  EXPECT_EQ(app::FolderOfPath("\\a.exe"), "");
}

TEST_F(InstallTest, LowerCaseDriveLetterRunsInPlaceAndMakesTheShortcut) {
  m.driveTypes = {{'D', 3}};
  m.PlaceProgram("d:\\Tarnwick游戏", "TarnwickLauncher.exe");
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::InPlace);
  EXPECT_TRUE(m.copies.empty());
  EXPECT_TRUE(m.started.empty());
  EXPECT_EQ(m.pauses, (std::vector<std::uint32_t>{500, 500}));

  platform::ShortcutInfo link;
  ASSERT_TRUE(platform::ReadShortcut(m.Map("C:\\Desktop\\Tarnwick游戏.lnk"), link));
  EXPECT_EQ(link.target, "D:\\Tarnwick游戏\\TarnwickLauncher.exe");
  EXPECT_EQ(link.workingDirectory, "D:\\Tarnwick游戏");
}

TEST_F(InstallTest, ExistingShortcutIsLeftAloneWhereverItPoints) {
  m.PlaceProgram("C:\\Tarnwick游戏", "TarnwickLauncher.exe");
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("C:\\Desktop\\Tarnwick游戏.lnk"), std::string_view("elsewhere")));
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::InPlace);
  EXPECT_EQ(m.Read("C:\\Desktop\\Tarnwick游戏.lnk"), "elsewhere");
}

TEST_F(InstallTest, NoDesktopFolderMeansNoShortcutRatherThanOneInTheCurrentFolder) {
  m.desktop.clear();
  m.PlaceProgram("C:\\Tarnwick游戏", "TarnwickLauncher.exe");
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::InPlace);
  EXPECT_FALSE(platform::FileExists(m.Map("C:\\Tarnwick游戏\\Tarnwick游戏.lnk")));
}

TEST_F(InstallTest, HandOverCopiesProgramAndCompanionsThenStartsTheCopyByFullPath) {
  m.driveTypes = {{'D', 2}, {'E', 3}};
  m.PlaceProgram("C:\\下载\\My Files", "TarnwickLauncher (1).exe");
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("C:\\下载\\My Files\\配置文件.dat"), std::string_view("operator")));
  // An older copy and configuration in the install folder are replaced.
  ASSERT_TRUE(platform::CreateFolder(m.Map("E:\\Tarnwick游戏")));
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("E:\\Tarnwick游戏\\TarnwickLauncher (1).exe"), std::string_view("old")));
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("E:\\Tarnwick游戏\\配置文件.dat"), std::string_view("old")));

  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  EXPECT_EQ(m.Read("E:\\Tarnwick游戏\\TarnwickLauncher (1).exe"), "MZ program");
  EXPECT_EQ(m.Read("E:\\Tarnwick游戏\\配置文件.dat"), "operator");
  // No companion DLL lay beside the program: none is copied, and no UI
  // library file is carried at all.
  EXPECT_FALSE(platform::FileExists(m.Map("E:\\Tarnwick游戏\\ExuiKrnln.dll")));
  EXPECT_EQ(m.copies.size(), 2u);
  EXPECT_EQ(m.started, (std::vector<std::string>{"E:\\Tarnwick游戏\\TarnwickLauncher (1).exe"}));
  EXPECT_EQ(m.pauses, (std::vector<std::uint32_t>{1000}));
  // The shortcut is the installed copy's business.
  EXPECT_FALSE(platform::FileExists(m.Map("C:\\Desktop\\Tarnwick游戏.lnk")));
}

TEST_F(InstallTest, CompanionDllTravelsOnlyWhenBesideTheProgram) {
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("C:\\下载\\ExuiKrnln.dll"), std::string_view("dll")));
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  EXPECT_EQ(m.Read("C:\\Tarnwick游戏\\ExuiKrnln.dll"), "dll");
  EXPECT_FALSE(platform::FileExists(m.Map("C:\\Tarnwick游戏\\配置文件.dat")));
}

TEST_F(InstallTest, DriveRootInstallsItself) {
  m.driveTypes = {{'D', 3}};
  m.PlaceProgram("F:", "TarnwickLauncher.exe");
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  ASSERT_EQ(m.copies.size(), 1u);
  EXPECT_EQ(m.copies[0], "F:\\TarnwickLauncher.exe -> D:\\Tarnwick游戏\\TarnwickLauncher.exe");

  // A run directory reported with its trailing separator gives the same path.
  m.copies.clear();
  m.held.clear();  // a later start, after the first copy has ended
  m.runDirectory = "F:\\";
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  ASSERT_EQ(m.copies.size(), 1u);
  EXPECT_EQ(m.copies[0], "F:\\TarnwickLauncher.exe -> D:\\Tarnwick游戏\\TarnwickLauncher.exe");
}

TEST_F(InstallTest, FailedCopyIsReportedAndNothingStarts) {
  m.driveTypes = {{'D', 3}};
  // D: has no folder behind it here, so the install folder cannot be made.
  testing_support::RemoveTree(m.Map("D:"));
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Refused);
  EXPECT_EQ(m.messages, (std::vector<std::string>{"错误|16|无法将程序复制到目标文件夹，请检查权限！"}));
  EXPECT_TRUE(m.started.empty());
}

TEST_F(InstallTest, CopyCutShortOrBlockedStartIsReportedWithItsReason) {
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  const std::string target = "C:\\Tarnwick游戏\\TarnwickLauncher.exe";
  struct Cut {
    const char* what;
    int at;
    bool reportsSuccess;
    const char* oldCopy;  // an older program in the install folder; null: none
  };
  const Cut cuts[] = {
      {"disk full after a few bytes", 4, false, nullptr},
      {"disk full before the first byte, over an older copy", 0, false, "MZ old"},
      {"copy that reports success but came out short", 7, true, nullptr},
  };
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.what);
    m.messages.clear();
    m.held.clear();
    m.deletes.clear();
    if (c.oldCopy) {
      platform::CreateFolder(m.Map("C:\\Tarnwick游戏"));  // there after the first row
      ASSERT_TRUE(platform::WriteFileBytes(m.Map(target), std::string_view(c.oldCopy)));
    }
    m.cutCopiesAt = c.at;
    m.cutCopyReportsSuccess = c.reportsSuccess;
    EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Refused);
    EXPECT_EQ(m.messages, (std::vector<std::string>{"错误|16|无法将程序复制到目标文件夹，请检查权限！"}));
    EXPECT_TRUE(m.started.empty());
    // A cut program under the real name would be started by the shortcut.
    EXPECT_EQ(m.deletes, (std::vector<std::string>{target}));
    EXPECT_EQ(m.Read(target), "<missing>");
  }

  m.cutCopiesAt = -1;
  m.messages.clear();
  m.messages.clear();
  m.held.clear();
  m.runError = 5;  // access denied, as an antivirus program answers
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Refused);
  ASSERT_EQ(m.messages.size(), 1u);
  EXPECT_TRUE(m.messages[0].starts_with("错误|16|无法启动 C:\\Tarnwick游戏\\TarnwickLauncher.exe："))
      << m.messages[0];
  EXPECT_NE(m.messages[0].find("(5)"), std::string::npos) << m.messages[0];
}

TEST_F(InstallTest, EachOutcomeLeavesALogLineWithItsReason) {
  std::string log = tmp.path() + "\\install.log";
  platform::OpenLog(tmp.path() + "\\stray.log");  // lines of earlier tests go elsewhere
  platform::OpenLog(log);
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  m.cutCopiesAt = 5;
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Refused);
  m.cutCopiesAt = -1;
  m.held.clear();
  m.runError = 5;
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Refused);
  m.runError = 0;
  m.held.clear();
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  m.runDirectory = "C:\\Tarnwick游戏";
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::InPlace);
  platform::CloseLog();

  auto bytes = platform::ReadWholeFile(log);
  ASSERT_TRUE(bytes);
  std::vector<std::string> texts;
  std::string text(bytes->begin(), bytes->end());
  for (std::size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    std::string line = text.substr(from + 24, end - from - 24);
    if (!line.starts_with("Message box")) texts.push_back(line);
  }
  const std::string self = "C:\\下载\\TarnwickLauncher.exe", installed = "C:\\Tarnwick游戏\\TarnwickLauncher.exe";
  ASSERT_EQ(texts.size(), 7u) << text;
  EXPECT_EQ(texts[0],
            "Created the install folder C:\\Tarnwick游戏: only this user, SYSTEM and administrators may change it");
  EXPECT_EQ(texts[1], "Self-install refused: cannot copy " + self + " to " + installed);
  EXPECT_EQ(texts[2], "Self-install copied " + self + " to " + installed);
  EXPECT_TRUE(texts[3].starts_with("Self-install refused: cannot start " + installed + ": ")) << texts[3];
  EXPECT_NE(texts[3].find("(5)"), std::string::npos) << texts[3];
  EXPECT_EQ(texts[4], "Self-install copied " + self + " to " + installed);
  EXPECT_TRUE(texts[5].starts_with("Self-install handed over")) << texts[5];
  EXPECT_EQ(texts[6], "Runs from the install folder C:\\Tarnwick游戏");
}

// On FAT or exFAT the root cannot be protected: it is used as before, and the
// log says why anyone may change it.
TEST_F(InstallTest, ARootWithoutAccessListsIsUsedAndLogged) {
  std::string log = tmp.path() + "\\install.log";
  platform::OpenLog(tmp.path() + "\\stray.log");
  platform::OpenLog(log);
  m.driveTypes['D'] = 3;
  m.rootVolume = platform::ProtectedFolder::NoAccessLists;
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  EXPECT_EQ(m.Read("D:\\Tarnwick游戏\\TarnwickLauncher.exe"), "MZ program");
  platform::CloseLog();
  auto bytes = platform::ReadWholeFile(log);
  ASSERT_TRUE(bytes);
  std::string text(bytes->begin(), bytes->end());
  EXPECT_NE(text.find("Created the install folder D:\\Tarnwick游戏 on a volume without access lists (FAT or exFAT): "
                      "any local account may change its files"),
            std::string::npos)
      << text;
}

TEST_F(InstallTest, ASecondFirstStartDefersToTheFirst) {
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  // Another start is copying right now: this one waits, finds the launcher
  // running, and ends without copying or telling anything.
  m.held.insert(std::string(app::kSelfInstallMutexName));
  m.otherStartHandsOver = true;
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Deferred);
  EXPECT_TRUE(m.copies.empty());
  EXPECT_TRUE(m.started.empty());
  EXPECT_TRUE(m.messages.empty());
  EXPECT_EQ(m.acquires.back(), std::string(app::kSelfInstallMutexName) + "|15000");

  // The launcher runs already: its exe is not copied over.
  m.held = {std::string(app::kInstanceMutexName)};
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::Deferred);
  EXPECT_TRUE(m.copies.empty());
  EXPECT_EQ(m.messages, (std::vector<std::string>{"提示|64|程序已经在运行中！"}));

  // A first start holds its lock until the started copy has taken over.
  m.held.clear();
  m.messages.clear();
  EXPECT_EQ(app::RunSelfInstallSteps(m), SelfInstallOutcome::HandOver);
  EXPECT_TRUE(m.MutexExists(std::string(app::kInstanceMutexName)));
}

TEST_F(InstallTest, DefaultConfigurationIsWrittenWhenMissingAndNeverTouchedOtherwise) {
  m.PlaceProgram("C:\\Tarnwick游戏", "TarnwickLauncher.exe");
  EXPECT_EQ(app::PrepareAndInstall(m), PrepareOutcome::LoadWindow);
  auto written = platform::ReadWholeFile(m.Map("C:\\Tarnwick游戏\\配置文件.dat"));
  ASSERT_TRUE(written);
  auto embedded = config::DefaultConfigBytes();
  EXPECT_EQ(*written, std::vector<std::uint8_t>(embedded.begin(), embedded.end()));

  // An operator's file of any content stays as it is, even a short one.
  ASSERT_TRUE(platform::WriteFileBytes(m.Map("C:\\Tarnwick游戏\\配置文件.dat"), std::string_view("x")));
  EXPECT_EQ(app::PrepareAndInstall(m), PrepareOutcome::LoadWindow);
  EXPECT_EQ(m.Read("C:\\Tarnwick游戏\\配置文件.dat"), "x");
  EXPECT_TRUE(m.messages.empty());
}

TEST_F(InstallTest, UnwritableConfigurationStopsBeforeInstalling) {
  // The program's own folder is gone: nothing can be written beside it.
  m.runDirectory = "C:\\gone";
  EXPECT_EQ(app::PrepareAndInstall(m), PrepareOutcome::Stop);
  EXPECT_EQ(m.messages, (std::vector<std::string>{"错误|16|无法释放 配置文件.dat 文件！程序将退出。"}));
  EXPECT_TRUE(m.copies.empty());
}

TEST_F(InstallTest, FirstRunFromADownloadFolderEndsInAHandOver) {
  m.PlaceProgram("C:\\下载", "TarnwickLauncher.exe");
  EXPECT_EQ(app::PrepareAndInstall(m), PrepareOutcome::HandOver);
  // The configuration written beside the program travels with it.
  auto embedded = config::DefaultConfigBytes();
  auto copied = platform::ReadWholeFile(m.Map("C:\\Tarnwick游戏\\配置文件.dat"));
  ASSERT_TRUE(copied);
  EXPECT_EQ(*copied, std::vector<std::uint8_t>(embedded.begin(), embedded.end()));
}

}  // namespace
