// The SCRIBOLANTE X firmware updater: starts the Qt application and hands over to the
// application object.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/command_line.h"
#include "app/first_paint_report.h"
#include "app/fwu_updater_app.h"
#include "app/ui_language.h"
#include "platform/termination_signals.h"
#include "update/program_ending.h"

#if defined(__SANITIZE_THREAD__)
// Sanitizer builds only: Qt is not built with ThreadSanitizer, and its painting thread pool
// synchronises in ways the sanitizer cannot see; our own code stays checked.
extern "C" const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char** argv) {
  // --help, --version and a bad argument are answered before Qt looks for a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CommandLine line = ParseCommandLine(arguments);
  if (const std::optional<int> status = ActOnCommandLine(line, argc, argv)) return *status;
  // Without a display Qt would abort: the program ends with one line before it takes the guard
  // or loads the vendor library, and before a trace replaces an earlier one.
  if (const std::optional<int> status = EndIfNoWindowCanOpen(line)) return *status;
  // Only a run that goes on gets a trace.
  StartRecordingIfAsked(line);
  QApplication qtApplication(argc, argv);
  // The program's texts and Qt's own dialogs in the user's language.
  InstallUiTranslations(qtApplication, UserUiLanguage());
  InstallFirstPaintReport(qtApplication);
  // A session that ends, Ctrl+C in a terminal or kill close the window as its close box does,
  // so the worker is stopped between two transfers rather than cut off in one.
  platform::TerminationSignals terminationSignals;
  CFWUpdaterApp application;
  // A request to end must end the program even when the UI thread is stuck in a vendor call.
  terminationSignals.EndProcessIfStuck(std::chrono::seconds(10), &EndProgramNow);
  QObject::connect(&terminationSignals, &platform::TerminationSignals::terminationRequested,
                   &application, &CFWUpdaterApp::OnTerminationRequested);
  return application.Run();
}
