// Which event of which control runs which command, as data.
#pragma once
#include <span>
#include <string_view>

#include "ui/model.h"

namespace app {

enum class Command {
  MainCreated,
  MainDestroying,
  SweepTick,
  SelectVersion,   // slot
  InstallVersion,  // slot
  StartVersion,    // slot
  OpenHomePage,
  OpenCustomerService,
  OpenTopUp,
  OpenRegistration,
  OpenGameSettings,
  Minimise,
  CloseMain,
  SettingsCreated,
  WindowModeChanged,   // argument: the new tick state
  ResolutionSelected,  // argument: the item index
  CloseSettings,
  ClosePrompt,
};

struct EventBinding {
  ui::WindowId window;
  std::string_view control;  // empty: the window itself
  ui::Event event;
  Command command;
  int slot;  // 1..4 for the per-version commands, else 0
};

std::span<const EventBinding> EventBindings();

}  // namespace app
