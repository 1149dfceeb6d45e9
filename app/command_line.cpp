// Parsing and acting on the command line with QCommandLineParser, without an application
// object, so that --help and --version need no display and take no guard.
#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "app/ui_language.h"
#include "platform/version_stamp.h"
#include "update/update_outcome.h"

namespace {

const QString kHelpName = QStringLiteral("help");
const QString kVersionName = QStringLiteral("version");

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

// A text of the command line in the user's language; the application may not exist yet.
QString Text(const char* source) {
  return TranslateBeforeApplication(UserUiLanguage(), "CommandLine", source);
}

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // Qt's options come with one dash and whole words (-platform): read them as such, never as
  // a run of one-letter options.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), kHelpName}));
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("v"), kVersionName}));
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
    line.error =
        Text(QT_TRANSLATE_NOOP("CommandLine", "引数は FILE または FOLDER の1つだけです。"));
  } else if (!parser.positionalArguments().isEmpty()) {
    line.path = parser.positionalArguments().constFirst();
  }
  return line;
}

std::optional<FirmwareSource> FirmwareSourceFor(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (!info.exists()) {
    *error = Text(QT_TRANSLATE_NOOP("CommandLine", "ファイルまたはフォルダが見つかりません: %1"))
                 .arg(path);
    return std::nullopt;
  }
  FirmwareSource source;
  if (info.isDir()) {
    // Listing a folder needs both: reading its names and entering it.
    if (!info.isReadable() || !info.isExecutable()) {
      *error = Text(QT_TRANSLATE_NOOP("CommandLine", "フォルダを読み込めません: %1")).arg(path);
      return std::nullopt;
    }
    source.folder = QFile::encodeName(info.absoluteFilePath()).toStdString();
    return source;
  }
  if (!info.isFile() || !info.isReadable()) {
    *error = Text(QT_TRANSLATE_NOOP("CommandLine", "ファイルを読み込めません: %1")).arg(path);
    return std::nullopt;
  }
  source.folder = QFile::encodeName(info.absolutePath()).toStdString();
  source.preferredName = QFile::encodeName(info.fileName()).toStdString();
  return source;
}

QString HelpText() {
  return Text(QT_TRANSLATE_NOOP(
                  "CommandLine",
                  "使い方: %1 [FILE|FOLDER]\n"
                  "\n"
                  "USB で接続された SCRIBOLANTE X のファームウェアを書き換えます。ファームウェア\n"
                  "ファイル (名前に SC5_Firmware_v<数字>.<数字>.bin を含むファイル) を探し、\n"
                  "ファームウェアアップデートモードの本体がちょうど1台接続されるまで待ち、\n"
                  "両方のバージョンを表示して確認を求め、イメージを書き込み、本体にチェックサムを\n"
                  "確認させます。\n"
                  "\n"
                  "引数:\n"
                  "  FILE           ファームウェアファイル。名前が条件に合えば、そのフォルダの\n"
                  "                 他のファイルより先に使います。合わなければそのフォルダを\n"
                  "                 探します\n"
                  "  FOLDER         ファームウェアファイルを探すフォルダ\n"
                  "                 (引数がなければ作業フォルダ)\n"
                  "  ファイルとフォルダは読むだけで、書き込むことはありません。\n"
                  "\n"
                  "オプション:\n"
                  "  -h, --help     このヘルプを表示して終了します\n"
                  "  -v, --version  プログラムの名前とバージョンを表示して終了します\n"
                  "  Qt 自身のオプション (-platform, -style など) も使えます。\n"
                  "\n"
                  "終了ステータス:\n"
                  "  0  本体が新しいファームウェアのチェックサムを確認した\n"
                  "  1  このプログラムがすでに起動している\n"
                  "  2  アップデートせずに終了した: 取り消し、2台以上の本体、ライブラリや本体の\n"
                  "     異常、メモリ不足、完了前にウィンドウを閉じた・終了シグナルを受けた、\n"
                  "     またはパスが存在しない・読み込めない\n"
                  "\n"
                  "確認まで進んだ試行はそれぞれ次のファイルに記録されます:\n"
                  "$XDG_STATE_HOME/scribolante-fw-updater/history.log\n"
                  "(既定では ~/.local/state/scribolante-fw-updater/history.log)\n"))
      .arg(Name());
}

QString VersionText() {
  const std::optional<platform::VersionStamp> stamp = platform::ReadOwnVersionStamp();
  const QString version = stamp ? QString::fromStdString(platform::FormatVersion(*stamp))
                                : QStringLiteral(FWU_PROJECT_VERSION);
  return QStringLiteral("SCRIBOLANTE X FW Updater %1\n").arg(version);
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
  if (line.path.isEmpty()) return std::nullopt;
  QString error;
  const std::optional<FirmwareSource> source = FirmwareSourceFor(line.path, &error);
  if (!source) {
    Print(stderr, QStringLiteral("%1: %2\n").arg(Name(), error));
    return kExitNoUpdate;
  }
  SetFirmwareSource(*source);
  return std::nullopt;
}
