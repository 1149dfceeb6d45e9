// The SCRIBOLANTE X firmware updater: starts the Qt application and hands over to the
// application object, or with --cli runs the update in the terminal without any window.
#include <QApplication>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/command_line.h"
#include "app/first_paint_report.h"
#include "app/fwu_updater_app.h"
#include "app/ui_language.h"
#include "platform/dbus_desktop_session.h"
#include "platform/termination_signals.h"
#include "update/desktop_activity.h"
#include "update/program_ending.h"
#include "update/terminal/terminal_run.h"
#include "update/update_view.h"

#if defined(__SANITIZE_THREAD__)
// Sanitizer builds only: Qt is not built with ThreadSanitizer, and its painting thread pool
// synchronises in ways the sanitizer cannot see; our own code stays checked.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif

namespace {

// What the desktop hears while the device is written: logind's lock against sleep and the
// dock's progress, for the window and the terminal alike. A core application must exist.
platform::DbusDesktopSession::Identity DesktopIdentity() {
  return {QString::fromUtf8(kApplicationTitle),
          QCoreApplication::translate("Messages", kWritingInhibitReason),
          QString::fromUtf8(kApplicationId) + QStringLiteral(".desktop")};
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a bad argument are answered before Qt looks for a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CommandLine line = ParseCommandLine(arguments);
  if (const std::optional<int> status = ActOnCommandLine(line, argc, argv)) return *status;
  if (line.terminal) {
    // No widgets and no display: a core application loads no platform plugin.
    QCoreApplication coreApplication(argc, argv);
    InstallUiTranslations(coreApplication, UserUiLanguage());
    platform::DbusDesktopSession desktopSession(DesktopIdentity());
    SetDesktopSession(&desktopSession);
    // The trace starts once this copy holds the guard, as in the window.
    const int status =
        RunUpdateInTerminal(TerminalOptions{line.assumeYes, line.json, &StartRequestedRecording});
    SetDesktopSession(nullptr);
    return status;
  }
  // Without a display Qt would abort: the program ends with one line before it takes the guard
  // or loads the vendor library, and so before any trace is opened.
  if (const std::optional<int> status = EndIfNoWindowCanOpen(line)) return *status;
  QApplication qtApplication(argc, argv);
  // The program's texts and Qt's own dialogs in the user's language.
  InstallUiTranslations(qtApplication, UserUiLanguage());
  InstallFirstPaintReport(qtApplication);
  // A session that ends, Ctrl+C in a terminal or kill close the window as its close box does,
  // so the worker is stopped between two transfers rather than cut off in one.
  platform::TerminationSignals terminationSignals;
  // While the device is written: no sleep, and the progress on the dock. Destroyed after the
  // application, whose end has stopped the worker.
  platform::DbusDesktopSession desktopSession(DesktopIdentity());
  SetDesktopSession(&desktopSession);
  CFWUpdaterApp application;
  // A request to end must end the program even when the UI thread is stuck in a vendor call.
  terminationSignals.EndProcessIfStuck(std::chrono::seconds(10), &EndProgramNow, kExitNoUpdate);
  QObject::connect(&terminationSignals, &platform::TerminationSignals::terminationRequested,
                   &application, &CFWUpdaterApp::OnTerminationRequested);
  const int status = application.Run();
  SetDesktopSession(nullptr);
  return status;
}
