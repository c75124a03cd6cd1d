// What draws the windows. The Win32 backend renders real windows; the headless
// backend only records, and lets tests click, tick and select.
#pragma once
#include "ui/model.h"

namespace ui {

class Ui;

class Backend {
 public:
  virtual ~Backend() = default;
  virtual void Attach(Ui& ui) = 0;
  // Native window for a design; false when it cannot be created.
  virtual bool CreateWindowFor(WindowId id, bool modal) = 0;
  virtual void ShowWindowFor(WindowId id) = 0;
  // Blocks until the window has closed (the Win32 backend runs a nested loop
  // with the other windows disabled); the headless backend returns at once.
  virtual void RunModal(WindowId id) = 0;
  virtual void DestroyWindowFor(WindowId id) = 0;
  virtual void BringToFront(WindowId id) = 0;
  virtual void PropertyChanged(WindowId id, const ControlState& control, Prop prop) = 0;
  virtual void WindowStateChanged(WindowId id, int state) = 0;
  virtual void TaskbarProgressChanged(WindowId id, const TaskbarProgress& progress) = 0;
  // Any thread: work was posted for the window thread.
  virtual void Wake() = 0;
  // Window thread: dispatch waiting native messages; with wait, block until
  // at least one arrives or Wake is called.
  virtual void Pump(bool wait) = 0;
};

}  // namespace ui
