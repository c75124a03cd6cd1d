// The launcher's window logic: the main window's fill, version selection and
// every button's command. Runs on the window thread.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/launcher_config.h"
#include "config/versions.h"
#include "games/game_start.h"
#include "app/event_bindings.h"
#include "app/picture_fetcher.h"
#include "ui/ui.h"

namespace app {

class Launcher {
 public:
  explicit Launcher(ui::Ui& ui);
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // Binds every event of the three windows to its command.
  void BindEvents();
  void Execute(Command command, int slot, int arg);

  // The main window's created event: single-instance guard, configuration,
  // then the fill of the main window.
  void OnMainWindowCreated();

  // Switches every version-dependent control to the version named name. The
  // background arrives later, from a worker thread.
  void SelectVersion(const std::string& name, const std::string& backgroundUrl, const std::string& announcementUrl);
  // A version button: the prompt window for an unnamed slot, else SelectVersion.
  void PressVersionButton(int slot);
  void OpenOperatorPage(const std::string& url, bool registration);
  void OpenGameSettings();
  void StartSlot(int slot);

  // What the install job needs: the versions it installs into and selects,
  // and the install buttons' handler.
  void SetInstallHandler(std::function<void(const std::string& displayName)> handler) {
    installHandler_ = std::move(handler);
  }
  config::Versions& versions() { return versions_; }
  const config::LauncherConfig& site() const { return cfg_.launcher; }
  ui::Ui& ui() { return ui_; }

  // The version the settings window edits; fixed while the window is open.
  const std::string& settingsVersionName() const { return settingsVersionName_; }
  games::ShortcutSweep& sweep() { return sweep_; }

  PictureFetcher& backgroundFetcher() { return *backgroundFetcher_; }

  // Test seam: replaces the single-instance guard (by default the real one).
  void SetInstanceGuard(std::function<bool()> guard) { instanceGuard_ = std::move(guard); }

 private:
  void FillMainWindow();
  void ScanInstalledVersions();
  void ShowInstallButtons();
  // Fetches a picture off the window thread and hands it to the window
  // thread; a background is shown only while its sequence number is current.
  void FetchPicture(const std::string& url, bool background);
  void PictureArrived(bool background, std::uint64_t sequence, std::vector<std::uint8_t> bytes);
  PictureFetcher::Deliver PictureDelivery(bool background);

  ui::Ui& ui_;
  config::Configuration cfg_;
  config::Versions versions_;
  std::string settingsVersionName_;
  games::ShortcutSweep sweep_;
  std::function<void(const std::string&)> installHandler_;
  std::function<bool()> instanceGuard_;
  std::uint64_t backgroundSequence_ = 0;
  // Posted work holds a weak reference: a picture arriving after the launcher
  // is gone is dropped.
  std::shared_ptr<Launcher*> alive_;
  // One per picture box, after alive_: destroyed first.
  std::unique_ptr<PictureFetcher> logoFetcher_, backgroundFetcher_;
};

}  // namespace app
