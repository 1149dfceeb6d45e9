// The terminal run: the guard, the view in the event loop, the termination signals and the end.
#include "update/terminal/terminal_run.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/connect_guard.h"
#include "platform/message_box.h"
#include "platform/termination_signals.h"
#include "update/program_ending.h"
#include "update/view/translated_message_text.h"

namespace {

// How long after the second termination signal the process ends when the run cannot end
// itself (a thread of ours stuck in a vendor call).
constexpr std::chrono::seconds kStuckEndDelay{10};

// Where the layers below the view show a box of their own (the library loader's warning).
TerminalReport* ownerlessReport = nullptr;
std::thread::id reportThread;

int ShowOwnerlessInTerminal(const std::string& text, const std::string&, unsigned type) {
  QString line = TranslatedMessageText(text);
  if (ownerlessReport != nullptr && std::this_thread::get_id() == reportThread) {
    ownerlessReport->Message(line);
  } else {
    // Another thread has no hand on the report: the line alone.
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
  }
  return DismissedAnswer(type);
}

// Installs the terminal's presenter of ownerless boxes for as long as it lives.
class OwnerlessBoxesInTerminal {
 public:
  explicit OwnerlessBoxesInTerminal(TerminalReport& report) {
    ownerlessReport = &report;
    reportThread = std::this_thread::get_id();
    platform::SetOwnerlessMessageBox(&ShowOwnerlessInTerminal);
  }
  ~OwnerlessBoxesInTerminal() {
    platform::SetOwnerlessMessageBox(nullptr);
    ownerlessReport = nullptr;
  }
};

}  // namespace

int RunUpdateInTerminal(const TerminalOptions& options) {
  TerminalReport report(options.json);
  if (TakeConnectGuard(platform::ConnectGuardNameFromEnvironment()) ==
      platform::ConnectGuardStatus::kHeldElsewhere) {
    report.Message(TranslatedMessageText(kMultipleStartMessage));
    const int status = EndStartRefusedByGuard();
    report.End(kTerminalOutcomeFailed, status);
    return status;
  }
  if (options.guardTaken) options.guardTaken();
  const OwnerlessBoxesInTerminal ownerlessBoxes(report);
  platform::TerminationSignals terminationSignals;
  TerminalView view(options, report);
  // The first signal mid-write only warns; the deadline counts from the one that ends the run.
  terminationSignals.EndProcessIfStuck(kStuckEndDelay, &EndProgramNow, kExitNoUpdate, 2);
  QObject::connect(&terminationSignals, &platform::TerminationSignals::terminationRequested, &view,
                   [&view] { view.OnTerminationRequested(); });
  view.OnCreate();
  QCoreApplication::exec();
  if (!view.BeginClose()) {
    // The worker is stuck in a vendor call: the view, the agent and the library must stay.
    std::fprintf(stderr, "FWUpdater: the device did not answer; ending without waiting for it\n");
    report.End(kHistoryClosed, UpdateExitStatus());
    std::fflush(nullptr);
    EndProgramNow();
  }
  const int status = EndProgram();
  report.End(view.Outcome(), status);
  return status;
}
