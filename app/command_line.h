// The program's command line: scribolante-fw-updater [--cli [--yes] [--json]] [FILE|FOLDER],
// --help and --version, parsed before any window (or display) exists, with Qt's own options
// left to Qt.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "update/firmware_image.h"

// The name the program is installed and started under.
inline constexpr const char* kCommandName = "scribolante-fw-updater";

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  QString path;  // Run: the FILE or FOLDER given; empty when none
  // Run: the trace file of --record TRACE, if given.
  std::optional<QString> recordPath;
  // Run: --cli, the update in the terminal without a window; with it, --yes answers the update
  // question "はい" and --json puts JSON Lines on standard output (either without --cli is an
  // Error).
  bool terminal = false;
  bool assumeYes = false;
  bool json = false;
  QString error;  // Error: what is wrong, one line without the program's name
  // Qt's options on the line that decide where windows can go: the last -platform value (empty
  // when none) and the X display named by -display.
  QString platform;
  std::optional<QString> display;
};

// Parses arguments, the program's own name first. Qt's options (-platform NAME, -style NAME,
// -reverse, ...) are recognised in the forms Qt takes and skipped, so this runs before the
// QApplication that takes them; anything else that looks like an option, a second path or an
// empty path is an Error.
CommandLine ParseCommandLine(const QStringList& arguments);

// The firmware source for a FILE or FOLDER argument: a folder is searched; a file is the one
// candidate, its folder never searched. nullopt, with error set to one line, when the path does
// not exist or cannot be read, or is a file whose name does not qualify by NamedFirmwareVersion
// (then *badName, when given, is set: that refusal is also shown in a box).
std::optional<FirmwareSource> FirmwareSourceFor(const QString& path, QString* error,
                                                bool* badName = nullptr);

// The box that refuses a FILE whose name does not qualify, naming the file.
QString BadFirmwareNameMessage(const QString& fileName);

// True when one of the platforms Qt would try for this line (its -platform, else
// QT_QPA_PLATFORM, else Qt's choice from the session) can show a window: offscreen and the
// like always, X11 and Wayland only when their server answers a connection
// (platform::ProbeDisplay). Creating the QApplication anywhere else would abort the program.
// With reason given, a false answer sets it to the one line that says so, in the user's
// language, without the program's name.
bool CanShowWindows(const CommandLine& line, QString* reason = nullptr);

// A start that needs a window where none can be opened ends here, before any application
// object, guard or vendor library: one line on standard error and kExitNoUpdate. nullopt when a
// window can be opened. A front end that needs no window does not call it.
std::optional<int> EndIfNoWindowCanOpen(const CommandLine& line);

// The texts of --help and --version, each ending with a line break.
QString HelpText();
QString VersionText();

// Acts on a parsed command line before the application starts: prints the help or the version
// to standard output (status 0), or an error line to standard error (status 2; a FILE whose
// name does not qualify is also refused in a box when CanShowWindows and not --cli, with a
// QApplication made from argc and argv for it alone, and otherwise followed by the line that says
// no window can be opened), or sets the firmware source of a FILE or FOLDER, keeps the trace of
// --record for StartRequestedRecording and answers nullopt: the program goes on.
std::optional<int> ActOnCommandLine(const CommandLine& line, int& argc, char** argv);

// Starts the recording --record asked for, once: called when this copy holds the
// single-instance guard (or runs unguarded), so that a copy sent away never opens the running
// copy's trace. A trace that cannot be written is one line on standard error; the update goes
// on. UI thread, before any library call.
void StartRequestedRecording();
