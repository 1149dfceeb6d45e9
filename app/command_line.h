// The program's command line: scribolante-fw-updater [FILE|FOLDER], --help and --version,
// parsed before any window (or display) exists, with Qt's own options left to Qt.
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
  QString path;   // Run: the FILE or FOLDER given; empty when none
  // Run: the trace file of --record TRACE, if given.
  std::optional<QString> recordPath;
  QString error;  // Error: what is wrong, one line without the program's name
  // Error: the line holds an option this parser does not know, which may be one of Qt's that
  // only the QApplication knows.
  bool unknownOption = false;
};

// Parses arguments, the program's own name first. Qt's options (-platform NAME, -style NAME,
// -reverse, ...) are recognised and skipped, so this may run before the QApplication that
// takes them; an option this parser does not know is an Error with unknownOption set (judge
// the line again once the QApplication has removed its own).
CommandLine ParseCommandLine(const QStringList& arguments);

// The firmware source for a FILE or FOLDER argument: a folder is searched; a file's folder is
// searched, the file itself first. nullopt, with error set to one line, when the path does not
// exist or cannot be read.
std::optional<FirmwareSource> FirmwareSourceFor(const QString& path, QString* error);

// The texts of --help and --version, each ending with a line break.
QString HelpText();
QString VersionText();

// Acts on a parsed command line before the application starts: prints the help or the version
// to standard output (status 0), or an error line to standard error (status 2), or sets the
// firmware source of a FILE or FOLDER, starts the recording of --record (a trace that cannot be
// written is one line on standard error, and the update goes on) and answers nullopt: the
// program goes on.
std::optional<int> ActOnCommandLine(const CommandLine& line);
