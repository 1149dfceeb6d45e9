// Parsing and acting on the command line with QCommandLineParser, without an application
// object, so that --help and --version need no display and take no guard.
#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "platform/version_stamp.h"
#include "update/update_outcome.h"
#include "usb/call_recorder.h"

namespace {

const QString kHelpName = QStringLiteral("help");
const QString kVersionName = QStringLiteral("version");
const QString kRecordName = QStringLiteral("record");

// The options QGuiApplication and QApplication take out of the command line themselves.
const char* const kQtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle", "session", "display", "geometry", "title", "name",
    "icon", "style", "stylesheet", "qmljsdebugger", "fontengine"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync",
                                      "testability"};

QString Name() {
  return QString::fromUtf8(kCommandName);
}

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

QString ProgramVersion() {
  const std::optional<platform::VersionStamp> stamp = platform::ReadOwnVersionStamp();
  return stamp ? QString::fromStdString(platform::FormatVersion(*stamp))
               : QStringLiteral(FWU_PROJECT_VERSION);
}

// A trace that cannot be written is said once; the update goes on without it.
void StartRecording(const QString& path) {
  std::string error;
  // A trace named like a firmware file could be found and written to the device as one.
  if (IsFirmwareFileName(QFile::encodeName(QFileInfo(path).fileName()).toStdString())) {
    Print(stderr, QStringLiteral("%1: the trace %2 is named like a firmware file; the update goes "
                                 "on without a trace\n")
                      .arg(Name(), path));
  } else if (!usb::StartCallRecording(QFile::encodeName(path).toStdString(),
                               ProgramVersion().toStdString(), &error)) {
    Print(stderr, QStringLiteral("%1: %2; the update goes on without a trace\n")
                      .arg(Name(), QString::fromLocal8Bit(error.c_str())));
  }
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // Qt's options come with one dash and whole words (-platform): read them as such, never as
  // a run of one-letter options.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), kHelpName}));
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("v"), kVersionName}));
  parser.addOption(QCommandLineOption(kRecordName, QString(), QStringLiteral("TRACE")));
  for (const char* name : kQtValueOptions) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : kQtFlagOptions) {
    QCommandLineOption option(QString::fromLatin1(name));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }

  CommandLine line;
  const bool parsed = parser.parse(arguments);
  // Asking for help or the version wins over anything else on the line.
  if (parser.isSet(kHelpName)) {
    line.action = CommandLine::Action::Help;
  } else if (parser.isSet(kVersionName)) {
    line.action = CommandLine::Action::Version;
  } else if (!parsed) {
    line.action = CommandLine::Action::Error;
    line.error = parser.errorText();
    line.unknownOption = !parser.unknownOptionNames().isEmpty();
  } else if (parser.positionalArguments().size() > 1) {
    line.action = CommandLine::Action::Error;
    line.error = QStringLiteral("引数は FILE または FOLDER の1つだけです。");
  } else if (!parser.positionalArguments().isEmpty()) {
    line.path = parser.positionalArguments().constFirst();
  }
  if (line.action == CommandLine::Action::Run && parser.isSet(kRecordName)) {
    line.recordPath = parser.value(kRecordName);
  }
  return line;
}

std::optional<FirmwareSource> FirmwareSourceFor(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (!info.exists()) {
    *error = QStringLiteral("ファイルまたはフォルダが見つかりません: %1").arg(path);
    return std::nullopt;
  }
  FirmwareSource source;
  if (info.isDir()) {
    // Listing a folder needs both: reading its names and entering it.
    if (!info.isReadable() || !info.isExecutable()) {
      *error = QStringLiteral("フォルダを読み込めません: %1").arg(path);
      return std::nullopt;
    }
    source.folder = QFile::encodeName(info.absoluteFilePath()).toStdString();
    return source;
  }
  if (!info.isFile() || !info.isReadable()) {
    *error = QStringLiteral("ファイルを読み込めません: %1").arg(path);
    return std::nullopt;
  }
  source.folder = QFile::encodeName(info.absolutePath()).toStdString();
  source.preferredName = QFile::encodeName(info.fileName()).toStdString();
  return source;
}

QString HelpText() {
  return QStringLiteral(
             "Usage: %1 [--record TRACE] [FILE|FOLDER]\n"
             "\n"
             "Rewrites the firmware of a SCRIBOLANTE X connected over USB. It finds the firmware\n"
             "file (a name containing SC5_Firmware_v<digits>.<digits>.bin), waits until exactly\n"
             "one device in firmware-update mode is connected, shows both versions, asks for\n"
             "confirmation, writes the image and has the device confirm its checksum.\n"
             "\n"
             "Arguments:\n"
             "  FILE           a firmware file: taken ahead of any other file of its folder when\n"
             "                 its name qualifies; otherwise its folder is searched\n"
             "  FOLDER         the folder searched for the firmware file\n"
             "                 (without an argument: the working folder)\n"
             "  The file and its folder are only read, never written.\n"
             "\n"
             "Options:\n"
             "  -h, --help     show this help and exit\n"
             "  -v, --version  show the program's name and version and exit\n"
             "  --record TRACE write every call into the device maker's library to TRACE\n"
             "                 (JSON Lines), for a support report; the update is unchanged\n"
             "  Qt's own options (-platform, -style, ...) are accepted as well.\n"
             "\n"
             "Exit status:\n"
             "  0  the device confirmed the checksum of the new firmware\n"
             "  1  another copy of the program is running\n"
             "  2  ended without an update: declined, two or more devices, a library or device\n"
             "     failure, out of memory, the window closed or a termination signal before\n"
             "     completion; or a path that does not exist or cannot be read\n"
             "\n"
             "Each attempt that reaches the confirmation is noted in\n"
             "$XDG_STATE_HOME/scribolante-fw-updater/history.log\n"
             "(by default ~/.local/state/scribolante-fw-updater/history.log).\n")
      .arg(Name());
}

QString VersionText() {
  return QStringLiteral("SCRIBOLANTE X FW Updater %1\n").arg(ProgramVersion());
}

std::optional<int> ActOnCommandLine(const CommandLine& line) {
  switch (line.action) {
    case CommandLine::Action::Help:
      Print(stdout, HelpText());
      return 0;  // asked for and given
    case CommandLine::Action::Version:
      Print(stdout, VersionText());
      return 0;
    case CommandLine::Action::Error:
      Print(stderr, QStringLiteral("%1: %2 (--help)\n").arg(Name(), line.error));
      return kExitNoUpdate;
    case CommandLine::Action::Run:
      break;
  }
  if (!line.path.isEmpty()) {
    QString error;
    const std::optional<FirmwareSource> source = FirmwareSourceFor(line.path, &error);
    if (!source) {
      Print(stderr, QStringLiteral("%1: %2\n").arg(Name(), error));
      return kExitNoUpdate;
    }
    SetFirmwareSource(*source);
  }
  // Only a run that goes on gets a trace.
  if (line.recordPath) StartRecording(*line.recordPath);
  return std::nullopt;
}
