// A start-up measurement for builds with the test switches: with FWU_REPORT_FIRST_PAINT=1 in
// the environment, the first paint of the main window writes one line to standard error with
// the time since the process started. Other builds never report it.
#pragma once

class QApplication;

// Installs the one-shot watcher when the switch is on; otherwise does nothing.
// The line reads "FWU first paint: <ms> ms after process start (realtime <s>.<us>)": the
// milliseconds come from the kernel's start time of the process (10 ms steps); the realtime
// clock lets a launcher subtract its own launch time for a finer figure. UI thread.
void InstallFirstPaintReport(QApplication& application);
