#include "ui/launcher.h"

#include <thread>

#include "games/game_ini.h"
#include "games/version_folder.h"
#include "platform/fs.h"
#include "platform/http_read.h"
#include "platform/runtime.h"
#include "platform/system.h"
#include "startup/single_instance.h"
#include "ui/panel_slots.h"

namespace launcher {
namespace {
constexpr ui::WindowId kMain = ui::WindowId::Main;

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
         c == '.';
}
}  // namespace

bool IsWebAddress(std::string_view url) {
  for (unsigned char c : url)
    if (c < 0x20 || c == 0x7F) return false;
  std::size_t sep = url.find("://");
  // One letter before ":" is a drive ("C://x"), not a scheme.
  if (sep == std::string_view::npos || sep < 2 || sep + 3 >= url.size()) return false;
  std::string_view scheme = url.substr(0, sep);
  if (!((scheme[0] >= 'a' && scheme[0] <= 'z') || (scheme[0] >= 'A' && scheme[0] <= 'Z'))) return false;
  for (char c : scheme)
    if (!IsSchemeChar(c)) return false;
  return rt::LowerText(scheme) != "file";
}

Launcher::Launcher(ui::Ui& ui)
    : ui_(ui), sweep_(ui), instanceGuard_([] { return startup::GuardSingleInstance(1); }),
      alive_(std::make_shared<Launcher*>(this)) {}

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
      if (installHandler_) installHandler_(ui::SlotAt(cfg_, slot).displayName);
      break;
    case Command::StartVersion: StartSlot(slot); break;
    case Command::OpenHomePage: OpenOperatorPage(site.homePageUrl, false); break;
    case Command::OpenCustomerService: OpenOperatorPage(site.customerServiceUrl, false); break;
    case Command::OpenTopUp: OpenOperatorPage(site.topUpUrl, false); break;
    case Command::OpenRegistration: OpenOperatorPage(site.registerUrl, true); break;
    case Command::OpenGameSettings: OpenGameSettings(); break;
    case Command::Minimise: ui_.SetWindowState(kMain, ui::kWindowMinimised); break;
    case Command::CloseMain: ui_.CloseWindow(kMain); break;
    case Command::SettingsCreated: games::ShowGameSettings(ui_, cfg_, settingsVersionName_); break;
    case Command::WindowModeChanged: games::OnWindowModeChanged(cfg_, settingsVersionName_, arg); break;
    case Command::ResolutionSelected: games::OnResolutionSelected(ui_, cfg_, settingsVersionName_, arg); break;
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
  selectedVersionName_ = cfg_.slots[0].displayName;
  FillMainWindow();
}

void Launcher::FillMainWindow() {
  // The version buttons' artwork carries the operator's names.
  for (int slot : ui::kScanOrder)
    ui_.SetText(kMain, ui::ControlsOfSlot(slot).versionButton, ui::SlotAt(cfg_, slot).displayName);
  ui_.SetText(kMain, "适龄提示标签", cfg_.launcher.ageNoticeText);
  sweep_.Stop();
  ScanInstalledVersions();
  ShowInstallButtons();

  const config::VersionSlot& first = cfg_.slots[0];
  if (selectedVersionName_ == first.displayName && ui::CountsAsInstalled(first))
    ui_.SetText(kMain, ui::kServerLabel, games::ReadServerNameForDisplay(first));
  else
    ui_.SetText(kMain, ui::kServerLabel, "未安装");

  PressVersionButton(1);
  if (!cfg_.launcher.logoImageUrl.empty()) FetchPicture(cfg_.launcher.logoImageUrl, false);
}

void Launcher::ScanInstalledVersions() {
  for (int n : ui::kScanOrder) {
    config::VersionSlot& slot = ui::SlotAt(cfg_, n);
    if (slot.folderName.empty()) continue;
    if (!games::IsSafeFolderName(slot.folderName)) {
      slot.installedName.clear();  // never made, never installed
      continue;
    }
    std::string dir = games::VersionFolderPath(slot.folderName);
    if (!platform::FileExists(dir)) platform::CreateFolder(dir);
    std::string ini = dir + "\\Game.ini";
    if (!platform::FileExists(ini)) games::WriteDefaultGameIni(ini, slot.displayName);
    if (slot.displayName.empty()) slot.installedName.clear();
    else slot.installedName = games::HasExecutable(dir) ? slot.displayName : std::string();
  }
}

void Launcher::ShowInstallButtons() {
  for (int n : ui::kLookupOrder) {
    bool installed = ui::CountsAsInstalled(ui::SlotAt(cfg_, n));
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).startButton, installed);
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).installButton, !installed);
  }
  ui_.SetVisible(kMain, ui::kProgressBar, false);
  ui_.SetVisible(kMain, ui::kProgressLine, false);
}

void Launcher::PressVersionButton(int n) {
  const config::VersionSlot& slot = ui::SlotAt(cfg_, n);
  if (slot.displayName.empty()) {
    ui_.LoadWindow(ui::WindowId::Prompt, true);
    return;
  }
  SelectVersion(slot.displayName, slot.backgroundImage, slot.announcement);
}

void Launcher::SelectVersion(const std::string& name, const std::string& backgroundUrl,
                             const std::string& announcementUrl) {
  selectedVersionName_ = name;
  int found = ui::FindSlotByName(cfg_, name);
  for (int n : ui::kScanOrder) ui_.SetSelectedLook(kMain, ui::ControlsOfSlot(n).versionButton, false);
  if (found) ui_.SetSelectedLook(kMain, ui::ControlsOfSlot(found).versionButton, true);
  for (int n : ui::kScanOrder) {
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).startButton, false);
    ui_.SetVisible(kMain, ui::ControlsOfSlot(n).installButton, false);
  }
  if (found) {
    const config::VersionSlot& slot = ui::SlotAt(cfg_, found);
    bool installed = ui::CountsAsInstalled(slot);
    const ui::SlotControls& controls = ui::ControlsOfSlot(found);
    ui_.SetVisible(kMain, installed ? controls.startButton : controls.installButton, true);
    ui_.SetText(kMain, ui::kServerLabel, installed ? games::ReadServerNameForDisplay(slot) : std::string("未安装"));
  }
  // Any picture still on its way belongs to an earlier selection.
  ++backgroundSequence_;
  if (!backgroundUrl.empty()) FetchPicture(backgroundUrl, true);
  ui_.LoadWebPage(kMain, ui::kAnnouncement, announcementUrl);
}

void Launcher::FetchPicture(const std::string& url, bool background) {
  std::uint64_t sequence = background ? backgroundSequence_ : 0;
  std::shared_ptr<ui::Dispatcher> dispatcher = ui_.dispatcher();
  std::weak_ptr<Launcher*> alive = alive_;
  // A thread per fetch, never joined: a slow or dead picture host must hold
  // neither the window nor the launcher's end.
  std::thread([url, background, sequence, dispatcher, alive] {
    platform::Bytes bytes = platform::HttpReadFile(url);
    if (bytes.empty()) return;
    dispatcher->Post([alive, background, sequence, bytes = std::move(bytes)]() mutable {
      if (std::shared_ptr<Launcher*> self = alive.lock()) (*self)->PictureArrived(background, sequence, std::move(bytes));
    });
  }).detach();
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
  // The configuration names web pages; anything that would run or open a
  // local file is not handed to the shell.
  if (!IsWebAddress(url)) return;
  platform::ShellOpen(url, "", platform::kShowNormal);
}

void Launcher::OpenGameSettings() {
  // An open settings window keeps the version it was opened for; the button
  // only brings it to the front.
  if (!ui_.IsOpen(ui::WindowId::Settings)) settingsVersionName_ = selectedVersionName_;
  ui_.LoadWindow(ui::WindowId::Settings, false);
}

void Launcher::StartSlot(int n) {
  const config::VersionSlot& slot = ui::SlotAt(cfg_, n);
  std::string fileName = games::ExeNameFromUrl(slot.programDownloadUrl);
  games::StartVersion(ui_, cfg_, sweep_, slot.folderName, fileName, slot.displayName);
}

}  // namespace launcher
