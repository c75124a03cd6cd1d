#include "app/startup.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "install/install_job.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/system.h"
#include "ui/window_backend.h"
#include "app/self_install.h"
#include "app/single_instance.h"
#include "app/wait.h"
#include "app/launcher.h"
#include "ui/ui.h"
#include "tarnwick_version.h"

namespace app {

namespace {

// What start-up builds for the life of the process.
struct GlobalState {
  std::unique_ptr<ui::Backend> backend;
  std::unique_ptr<ui::Ui> ui;
  std::unique_ptr<app::Launcher> launcher;
  // The install job owns the task registry and its lock.
  std::unique_ptr<install::InstallJob> installJob;
  bool loopRunning = false;
};

GlobalState* g_state = nullptr;

// The end-of-program routine. From inside the message loop (an exit from an
// event handler) the windows and the launcher are still on the call stack:
// only stop engine threads from posting, and let the process end take the
// rest.
void ReleaseGlobalState() {
  // First of all: a launcher started again while this one winds down must
  // not be told that one is running.
  platform::ReleaseNamedMutex(std::string(kInstanceMutexName));
  platform::Log("Launcher ends");
  GlobalState* state = g_state;
  if (!state) {
    platform::CloseLog();
    return;
  }
  if (state->ui) state->ui->dispatcher()->Close();
  if (state->loopRunning) {
    platform::CloseLog();  // bounded: an engine still writing cannot hold the end
    return;
  }
  g_state = nullptr;
  // Downloads stop first: their reports go to the launcher's windows.
  state->installJob.reset();
  state->launcher.reset();
  state->ui.reset();
  state->backend.reset();
  delete state;
  platform::CloseLog();
}

void ProcessEvents() {
  if (g_state && g_state->ui) g_state->ui->ProcessEvents();
}

void SleepBriefly(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

void WaitWithEvents(std::uint32_t ms) {
  WaitWithEvents(ms, platform::SystemClock(), ProcessEvents, SleepBriefly);
}

void WaitWithEvents(std::uint32_t ms, platform::Clock& clock, const std::function<void()>& processEvents,
                    const std::function<void(std::uint32_t)>& sleep) {
  const std::uint32_t start = clock.TickCount();
  for (;;) {
    std::uint32_t elapsed = platform::TicksBetween(start, clock.TickCount());
    if (elapsed >= ms) return;
    processEvents();
    // A short nap between polls keeps a core free and the window responsive.
    sleep(std::min<std::uint32_t>(ms - elapsed, kWaitPollMs));
  }
}

int RunStartup(void (*afterLogOpened)()) {
  platform::InitRuntime();
  // Beside the program, wherever it was started from: a failed self-install
  // leaves its reason where the player can find it.
  platform::OpenLog(platform::GetRunDirectory() + "\\" + std::string(platform::kLogFileName));
  platform::Log("Launcher " TARNWICK_VERSION_TEXT " starts: " + platform::GetExePath() + " on " +
                platform::SystemVersionText());
  if (afterLogOpened) afterLogOpened();
  platform::RegisterEndRoutine(&ReleaseGlobalState);

  g_state = new GlobalState;
  g_state->backend = ui::CreateWindowBackend();
  g_state->ui = std::make_unique<ui::Ui>(*g_state->backend);
  g_state->launcher = std::make_unique<app::Launcher>(*g_state->ui);
  app::Launcher& launcher = *g_state->launcher;
  g_state->installJob = std::make_unique<install::InstallJob>(*g_state->ui, launcher.versions());
  install::InstallJob& job = *g_state->installJob;
  launcher.SetInstallHandler([&job, &launcher](const std::string& name) {
    // The configuration is read after the job is made: take its value per job.
    job.SetDownloadConnections(launcher.site().downloadConnections);
    job.InstallVersion(name);
  });
  launcher.BindEvents();

  auto sys = MakePlatformSelfInstallSystem([](std::uint32_t ms) {
    WaitWithEvents(ms);
    ProcessEvents();
  });
  switch (PrepareAndInstall(*sys)) {
    case PrepareOutcome::HandOver:
      sys.reset();
      platform::ExitProgram(0);
    case PrepareOutcome::Stop:
      return 0;
    case PrepareOutcome::LoadWindow:
      break;
  }
  sys.reset();

  ui::Ui& ui = *g_state->ui;
  ui.LoadWindow(ui::WindowId::Main, false);
  if (!ui.AnyWindowOpen()) return 0;
  g_state->loopRunning = true;
  ui.Run();
  g_state->loopRunning = false;
  return 0;
}

}  // namespace app
