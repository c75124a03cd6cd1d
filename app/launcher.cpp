#include "app/launcher.h"


#include "games/game_ini.h"
#include "platform/fs.h"
#include "platform/http_read.h"
#include "platform/runtime.h"
#include "platform/system.h"
#include "app/single_instance.h"
#include "platform/names.h"
#include "ui/main_controls.h"

namespace app {
namespace {
constexpr ui::WindowId kMain = ui::WindowId::Main;

}  // namespace

Launcher::Launcher(ui::Ui& ui)
    : ui_(ui), sweep_(ui), instanceGuard_([] { return app::GuardSingleInstance(1); }),
      alive_(std::make_shared<Launcher*>(this)),
      logoFetcher_(std::make_unique<PictureFetcher>(PictureDelivery(false))),
      backgroundFetcher_(std::make_unique<PictureFetcher>(PictureDelivery(true))) {}

Launcher::~Launcher() = default;

void Launcher::BindEvents() {
  for (const EventBinding& b : EventBindings()) {
    ui_.Bind(b.window, b.control, b.event, [this, command = b.command, slot = b.slot](int arg) {
      Execute(command, slot, arg);
    });
  }
}

void Launcher::Execute(Command command, int slot, int arg) {
  const config::LauncherConfig& site = cfg_.launcher;
  switch (command) {
    case Command::MainCreated: OnMainWindowCreated(); break;
    case Command::MainDestroying: sweep_.Stop(); break;
    case Command::SweepTick: sweep_.OnTimer(); break;
    case Command::SelectVersion: PressVersionButton(slot); break;
    case Command::InstallVersion:
      // The install job plugs in here; until then the buttons do nothing.
      if (installHandler_) installHandler_(versions_.Slot(slot).displayName);
      break;
    case Command::StartVersion: StartSlot(slot); break;
    case Command::OpenHomePage: OpenOperatorPage(site.homePageUrl, false); break;
    case Command::OpenCustomerService: OpenOperatorPage(site.customerServiceUrl, false); break;
    case Command::OpenTopUp: OpenOperatorPage(site.topUpUrl, false); break;
    case Command::OpenRegistration: OpenOperatorPage(site.registerUrl, true); break;
    case Command::OpenGameSettings: OpenGameSettings(); break;
    case Command::Minimise: ui_.SetWindowState(kMain, ui::kWindowMinimised); break;
    case Command::CloseMain: ui_.CloseWindow(kMain); break;
    case Command::SettingsCreated: games::ShowGameSettings(ui_, versions_, settingsVersionName_); break;
    case Command::WindowModeChanged: games::OnWindowModeChanged(versions_, settingsVersionName_, arg); break;
    case Command::ResolutionSelected: games::OnResolutionSelected(ui_, versions_, settingsVersionName_, arg); break;
    case Command::CloseSettings: ui_.CloseWindow(ui::WindowId::Settings); break;
    case Command::ClosePrompt: ui_.CloseWindow(ui::WindowId::Prompt); break;
  }
}

void Launcher::OnMainWindowCreated() {
  (void)instanceGuard_();  // without the mutex the launcher still runs, unprotected
  if (!config::LoadLauncherConfig(cfg_)) {
    ui_.CloseWindow(kMain);
    return;
  }
  versions_.Load(cfg_.slots, platform::GetRunDirectory());
  FillMainWindow();
}

void Launcher::FillMainWindow() {
  // The version buttons' artwork carries the operator's names.
  for (int slot : config::kScanOrder)
    ui_.SetText(kMain, ui::ControlsOfSlot(slot).versionButton, versions_.Slot(slot).displayName);
  ui_.SetText(kMain, "适龄提示标签", cfg_.launcher.ageNoticeText);
  sweep_.Stop();
  ScanInstalledVersions();
  ShowInstallButtons();

  if (versions_.SelectedName() == versions_.Slot(1).displayName && versions_.IsInstalled(1))
    ui_.SetText(kMain, ui::kServerLabel, games::ReadServerNameForDisplay(versions_.Paths(1)));
  else
    ui_.SetText(kMain, ui::kServerLabel, "未安装");

  PressVersionButton(1);
  if (!cfg_.launcher.logoImageUrl.empty()) FetchPicture(cfg_.launcher.logoImageUrl, false);
}

void Launcher::ScanInstalledVersions() {
  for (int n : config::kScanOrder) {
    const config::VersionSlot& slot = versions_.Slot(n);
    if (slot.folderName.empty()) continue;
    if (!versions_.HasValidFolder(n)) {
      versions_.MarkNotInstalled(n);  // never made, never installed
      continue;
    }
    const config::VersionPaths& paths = versions_.Paths(n);
    if (!platform::FileExists(paths.folder)) platform::CreateFolder(paths.folder);
    if (!platform::FileExists(paths.iniPath)) games::WriteDefaultGameIni(paths.iniPath, slot.displayName);
    if (!slot.displayName.empty() && games::HasExecutable(paths.folder) && versions_.FilesIntact(n))
      versions_.MarkInstalled(n);
    else versions_.MarkNotInstalled(n);
  }
}

void Launcher::ShowInstallButtons() {
  for (int n : config::kLookupOrder) {
    bool installed = versions_.IsInstalled(n);
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).startButton, installed);
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).installButton, !installed);
  }
  ui_.SetVisible(kMain, ui::kProgressBar, false);
  ui_.SetVisible(kMain, ui::kProgressLine, false);
}

void Launcher::PressVersionButton(int n) {
  const config::VersionSlot& slot = versions_.Slot(n);
  if (slot.displayName.empty()) {
    ui_.LoadWindow(ui::WindowId::Prompt, true);
    return;
  }
  SelectVersion(slot.displayName, slot.backgroundImage, slot.announcement);
}

void Launcher::SelectVersion(const std::string& name, const std::string& backgroundUrl,
                             const std::string& announcementUrl) {
  versions_.Select(name);
  int found = versions_.FindByName(name);
  for (int n : config::kScanOrder) ui_.SetSelectedLook(kMain, ui::ControlsOfSlot(n).versionButton, false);
  if (found) ui_.SetSelectedLook(kMain, ui::ControlsOfSlot(found).versionButton, true);
  for (int n : config::kScanOrder) {
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).startButton, false);
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).installButton, false);
  }
  if (found) {
    bool installed = versions_.IsInstalled(found);
    const ui::SlotControls& controls = ui::ControlsOfSlot(found);
    ui_.SetVisible(kMain, installed ? controls.startButton : controls.installButton, true);
    ui_.SetText(kMain, ui::kServerLabel,
                installed ? games::ReadServerNameForDisplay(versions_.Paths(found)) : std::string("未安装"));
  }
  // Any picture still on its way belongs to an earlier selection.
  ++backgroundSequence_;
  if (!backgroundUrl.empty()) FetchPicture(backgroundUrl, true);
  ui_.LoadWebPage(kMain, ui::kAnnouncement, platform::WithWebScheme(announcementUrl));
}

void Launcher::FetchPicture(const std::string& url, bool background) {
  std::uint64_t sequence = background ? backgroundSequence_ : 0;
  // A thread that cannot be started is a failed fetch: the design's picture
  // stays.
  (void)(background ? backgroundFetcher_ : logoFetcher_)->Fetch(url, sequence);
}

PictureFetcher::Deliver Launcher::PictureDelivery(bool background) {
  std::shared_ptr<ui::Dispatcher> dispatcher = ui_.dispatcher();
  std::weak_ptr<Launcher*> alive = alive_;
  return [dispatcher, alive, background](std::uint64_t sequence, std::vector<std::uint8_t> bytes) {
    dispatcher->Post([alive, background, sequence, bytes = std::move(bytes)]() mutable {
      if (std::shared_ptr<Launcher*> self = alive.lock()) (*self)->PictureArrived(background, sequence, std::move(bytes));
    });
  };
}

void Launcher::PictureArrived(bool background, std::uint64_t sequence, std::vector<std::uint8_t> bytes) {
  if (!ui_.IsOpen(kMain)) return;
  std::string_view control = background ? ui::kBackground : ui::kLogo;
  if (background && sequence != backgroundSequence_) return;
  ui_.SetPicture(kMain, control, std::move(bytes));
  ui_.Redraw(kMain, control);
}

void Launcher::OpenOperatorPage(const std::string& url, bool registration) {
  if (url.empty()) {
    if (registration) platform::ShowMessage("请在游戏内注册账号！", platform::kMbOk, "提示");
    return;
  }
  // The configuration names web pages, some written without "http://";
  // anything else (a local file, another program's scheme) the shell's rule
  // refuses.
  (void)platform::OpenInBrowser(platform::WithWebScheme(url));
}

void Launcher::OpenGameSettings() {
  // An open settings window keeps the version it was opened for; the button
  // only brings it to the front.
  if (!ui_.IsOpen(ui::WindowId::Settings)) settingsVersionName_ = versions_.SelectedName();
  ui_.LoadWindow(ui::WindowId::Settings, false);
}

void Launcher::StartSlot(int n) {
  (void)games::StartVersion(ui_, versions_, sweep_, n);
}

}  // namespace app
