// The update run from a terminal (--cli), from the connection guard to the exit status, with
// the same controller, worker, guard, history and statuses as the window.
#pragma once

#include "update/terminal/terminal_view.h"

// Takes the connection guard (a copy already running: its message as one line, status
// kExitAnotherCopy), runs the update with a TerminalView in the application's event loop,
// and ends it through EndProgram; the process's exit status. Termination signals end the run
// as the view describes; one that cannot be served because a thread of ours is stuck in the
// vendor library ends the process ten seconds after the second. A QCoreApplication must
// exist (no windowing application is needed, nor created); main thread.
int RunUpdateInTerminal(const TerminalOptions& options);
