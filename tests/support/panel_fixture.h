// A launcher on the headless backend over real folders: the program's
// directory and the desktop are temporary folders, message boxes and shell
// opens are recorded.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"
#include "support/temp_dir.h"
#include "ui/headless_backend.h"
#include "app/launcher.h"
#include "ui/ui.h"

namespace testing_support {

class PanelFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes 配置文件.dat from config and loads the main window.
  bool Start();
  void WriteConfig();

  std::string Path(const std::string& relative) const { return run.path() + "\\" + relative; }
  std::string DeskPath(const std::string& name) const { return desk.path() + "\\" + name; }
  void WriteText(const std::string& path, std::string_view bytes);
  std::string ReadText(const std::string& path) const;
  void MakeFolder(const std::string& path);
  void MakeReadOnly(const std::string& path);

  const ui::ControlState& Main(std::string_view name) const;
  const ui::ControlState& Settings(std::string_view name) const;
  bool Visible(std::string_view name) const { return Main(name).visible; }
  // Start and install buttons that are visible, in design order.
  std::vector<std::string> VisibleStartAndInstall() const;
  bool Click(std::string_view name) { return backend.Click(ui::WindowId::Main, name); }
  // Runs posted work for a while (closing windows happens there).
  void Settle() { ui.RunPosted(); }

  TempDir run;
  TempDir desk;
  ui::HeadlessBackend backend;
  ui::Ui ui{backend};
  app::Launcher launcher{ui};
  std::map<std::string, std::string> config;
  std::vector<platform::MessageCall> messages;
  std::vector<platform::ShellCall> shellOpens;
  int guardCalls = 0;
};

}  // namespace testing_support
