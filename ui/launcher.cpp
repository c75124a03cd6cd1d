#include "ui/launcher.h"

namespace launcher {

Launcher::Launcher(ui::Ui& ui) : ui_(ui) {}

void Launcher::BindEvents() {
  ui_.Bind(ui::WindowId::Main, "", ui::Event::Created, [this](int) { OnMainWindowCreated(); });
}

void Launcher::OnMainWindowCreated() {
  if (!config::LoadLauncherConfig(cfg_)) {
    ui_.CloseWindow(ui::WindowId::Main);
    return;
  }
  selectedVersionName_ = cfg_.slots[0].displayName;
}

}  // namespace launcher
