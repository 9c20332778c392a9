#pragma once
// The program's window front end: the same services and core the headless front end builds, driven
// by the Qt event loop instead of a plain loop. Build the same way: instance lock, quit listener,
// language tables, configuration files, sound system (the demo line when there is no input at all),
// dispatcher, clock (fast pace when the lines ask for it), then the core and the main window.
//
//   Timer1, every 50 ms → dispatcher.drain() → the due ticks of core.tick() → the widgets
//
// A worker's post wakes the GUI thread through a queued call that drains the dispatcher.
#include <string>
#include <vector>

namespace kestavo::ui {

struct GuiOptions {
    std::vector<std::string> coreArguments;  // the first may be "-i13", "-start" or "-netstart"
    bool untilLinesEnd = false;              // close (without asking) once every file-backed line has ended
};

// Runs the window until it is closed, SIGINT, SIGTERM or `kestavo --quit`. `argc`/`argv` go to
// QApplication (it may take its own options out of them). Returns the process exit code.
int RunGui(int argc, char** argv, const GuiOptions& options);

}  // namespace kestavo::ui
