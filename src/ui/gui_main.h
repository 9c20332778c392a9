#pragma once
// RunGui: the program's window front end: the same program run (app::ProgramRun) the headless front end
// drives, driven by the Qt event loop instead of a plain loop: instance lock, quit listener, the
// program run, the stored password, then the main window.
//
//   Timer1, every 50 ms → ProgramRun::Step (posted calls, due ticks) → the widgets
//
// A worker's post wakes the GUI thread through a queued call that drains the dispatcher.
#include "app/program_run.h"

namespace kestavo::ui {

using GuiOptions = app::ProgramOptions;

// Runs the window until it is closed, SIGINT, SIGTERM or `kestavo --quit`. `argc`/`argv` go to
// QApplication (it may take its own options out of them). Returns the process exit code.
int RunGui(int argc, char** argv, const GuiOptions& options);

}  // namespace kestavo::ui
