// The launcher's window logic: the main window's fill, version selection and
// every button's command. Runs on the window thread.
#pragma once
#include <functional>
#include <string>

#include "config/launcher_config.h"
#include "ui/ui.h"

namespace launcher {

class Launcher {
 public:
  explicit Launcher(ui::Ui& ui);
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // Binds every event of the three windows to its command.
  void BindEvents();

  // The main window's created event.
  void OnMainWindowCreated();

  config::Configuration& configuration() { return cfg_; }
  const std::string& selectedVersionName() const { return selectedVersionName_; }

 private:
  ui::Ui& ui_;
  config::Configuration cfg_;
  std::string selectedVersionName_;
};

}  // namespace launcher
