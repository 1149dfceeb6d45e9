// Parsing and acting on the command line with QCommandLineParser, without an application
// object, so that --help, --version and a bad line need no display and take no guard; only the
// box that refuses a FILE by its name makes one, for itself.
#include "app/command_line.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>
#include <utility>

#include "app/fwu_updater_app.h"
#include "app/message_boxes.h"
#include "app/ui_language.h"
#include "platform/display_probe.h"
#include "platform/version_stamp.h"
#include "update/program_ending.h"
#include "update/update_view.h"
#include "usb/call_recorder.h"

namespace {

const QString kHelpName = QStringLiteral("help");
const QString kVersionName = QStringLiteral("version");
const QString kRecordName = QStringLiteral("record");
const QString kCliName = QStringLiteral("cli");
const QString kYesName = QStringLiteral("yes");
const QString kJsonName = QStringLiteral("json");

// The options QGuiApplication, QApplication and the X11 platform take out of the command line
// themselves, each as "-name" or "--name"; a value option takes the next argument as its value,
// and the joined ones are also taken as "-name=value".
constexpr std::string_view kQtValueOptions[] = {"platform",
                                                "platformpluginpath",
                                                "platformtheme",
                                                "plugin",
                                                "qwindowgeometry",
                                                "qwindowicon",
                                                "qwindowtitle",
                                                "session",
                                                "style",
                                                "stylesheet",
                                                "qmljsdebugger",
                                                "fontengine",
                                                "display",
                                                "geometry",
                                                "title",
                                                "name",
                                                "icon",
                                                "visual",
                                                "ncols"};
constexpr std::string_view kQtFlagOptions[] = {"reverse", "widgetcount", "testability", "nograb",
                                               "dograb",  "sync",        "cmap"};
constexpr std::string_view kQtJoinedValueOptions[] = {"style", "stylesheet", "qmljsdebugger"};

bool IsListed(const QString& name, std::span<const std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&name](std::string_view listed) {
    return name == QLatin1String(listed.data(), static_cast<qsizetype>(listed.size()));
  });
}

// Takes Qt's options out of arguments (the program's name first) as Qt reads them, up to a
// "--", noting in line the platform and display they name. False, with line.error set, when a
// value option lacks its value.
bool TakeQtOptions(QStringList& arguments, CommandLine& line) {
  for (qsizetype i = 1; i < arguments.size();) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--")) break;
    if (!argument.startsWith(QLatin1Char('-'))) {
      ++i;
      continue;
    }
    const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const QString joinedName = name.section(QLatin1Char('='), 0, 0);
    if (name.contains(QLatin1Char('=')) && IsListed(joinedName, kQtJoinedValueOptions)) {
      arguments.removeAt(i);
    } else if (IsListed(name, kQtFlagOptions)) {
      arguments.removeAt(i);
    } else if (IsListed(name, kQtValueOptions)) {
      if (i + 1 >= arguments.size()) {
        line.error = QStringLiteral("Missing value after '%1'.").arg(argument);
        return false;
      }
      if (name == QLatin1String("platform")) line.platform = arguments[i + 1];
      if (name == QLatin1String("display")) line.display = arguments[i + 1];
      arguments.remove(i, 2);
    } else {
      ++i;  // not Qt's: the parser below judges it
    }
  }
  return true;
}

// The program's name as its messages on the terminal begin.
QString CommandNameText() {
  return QString::fromUtf8(kCommandName);
}

// A text of the command line in the user's language; the application may not exist yet.
QString InUserLanguage(const char* source) {
  return TranslateBeforeApplication(UserUiLanguage(), "CommandLine", source);
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

// The trace --record names, kept until this copy holds the single-instance guard.
std::optional<QString> requestedTrace;

// A trace that cannot be written is said once; the update goes on without it.
void StartRecording(const QString& path) {
  std::string error;
  // A trace named like a firmware file could be found and written to the device as one.
  if (IsFirmwareFileName(QFile::encodeName(QFileInfo(path).fileName()).toStdString())) {
    Print(stderr, QStringLiteral("%1: the trace %2 is named like a firmware file; the update goes "
                                 "on without a trace\n")
                      .arg(CommandNameText(), path));
  } else if (!usb::StartCallRecording(QFile::encodeName(path).toStdString(),
                                      ProgramVersion().toStdString(), &error)) {
    Print(stderr, QStringLiteral("%1: %2; the update goes on without a trace\n")
                      .arg(CommandNameText(), QString::fromLocal8Bit(error.c_str())));
  }
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  // Options come with one dash and whole words: "-vh" is one unknown option, never a run of
  // one-letter ones.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), kHelpName}));
  parser.addOption(QCommandLineOption(QStringList{QStringLiteral("v"), kVersionName}));
  parser.addOption(QCommandLineOption(kRecordName, QString(), QStringLiteral("TRACE")));
  parser.addOption(QCommandLineOption(kCliName));
  parser.addOption(QCommandLineOption(kYesName));
  parser.addOption(QCommandLineOption(kJsonName));

  CommandLine line;
  QStringList rest = arguments;
  const bool qtTaken = TakeQtOptions(rest, line);
  const bool parsed = parser.parse(rest);
  const QStringList paths = parser.positionalArguments();
  // Asking for help or the version wins over anything else on the line.
  if (parser.isSet(kHelpName)) {
    line.action = CommandLine::Action::Help;
  } else if (parser.isSet(kVersionName)) {
    line.action = CommandLine::Action::Version;
  } else if (!qtTaken) {
    line.action = CommandLine::Action::Error;
  } else if (!parsed) {
    line.action = CommandLine::Action::Error;
    line.error = parser.errorText();
  } else if (paths.size() > 1) {
    line.action = CommandLine::Action::Error;
    line.error = InUserLanguage(
        QT_TRANSLATE_NOOP("CommandLine", "引数は FILE または FOLDER の1つだけです。"));
  } else if (!paths.isEmpty() && paths.constFirst().isEmpty()) {
    // An empty argument names nothing: it must not fall back to the working folder.
    line.action = CommandLine::Action::Error;
    line.error = InUserLanguage(QT_TRANSLATE_NOOP("CommandLine", "空のパスは指定できません。"));
  } else if (!parser.isSet(kCliName) && (parser.isSet(kYesName) || parser.isSet(kJsonName))) {
    // The window asks its own questions and has no standard output to speak of.
    line.action = CommandLine::Action::Error;
    line.error = InUserLanguage(
        QT_TRANSLATE_NOOP("CommandLine", "--yes と --json は --cli と一緒にだけ使えます。"));
  } else if (!paths.isEmpty()) {
    line.path = paths.constFirst();
  }
  if (line.action == CommandLine::Action::Run) {
    if (parser.isSet(kRecordName)) line.recordPath = parser.value(kRecordName);
    line.terminal = parser.isSet(kCliName);
    line.assumeYes = parser.isSet(kYesName);
    line.json = parser.isSet(kJsonName);
  }
  return line;
}

std::optional<FirmwareSource> FirmwareSourceFor(const QString& path, QString* error,
                                                bool* badName) {
  if (badName) *badName = false;
  const QFileInfo info(path);
  if (!info.exists()) {
    *error = InUserLanguage(
                 QT_TRANSLATE_NOOP("CommandLine", "ファイルまたはフォルダが見つかりません: %1"))
                 .arg(path);
    return std::nullopt;
  }
  FirmwareSource source;
  if (info.isDir()) {
    // Listing a folder needs both: reading its names and entering it.
    if (!info.isReadable() || !info.isExecutable()) {
      *error = InUserLanguage(QT_TRANSLATE_NOOP("CommandLine", "フォルダを読み込めません: %1"))
                   .arg(path);
      return std::nullopt;
    }
    source.folder = QFile::encodeName(info.absoluteFilePath()).toStdString();
    return source;
  }
  const std::string name = QFile::encodeName(info.fileName()).toStdString();
  if (NamedFirmwareVersion(name).empty()) {
    *error = InUserLanguage(
                 QT_TRANSLATE_NOOP(
                     "CommandLine",
                     "バイナリファイルの名前が正しくありません (SC5_Firmware_v<数字>.<数字> を含み "
                     ".bin で終わる名前が必要です): %1"))
                 .arg(path);
    if (badName) *badName = true;
    return std::nullopt;
  }
  if (!info.isFile() || !info.isReadable()) {
    *error =
        InUserLanguage(QT_TRANSLATE_NOOP("CommandLine", "ファイルを読み込めません: %1")).arg(path);
    return std::nullopt;
  }
  source.folder = QFile::encodeName(info.absolutePath()).toStdString();
  source.fileName = name;
  return source;
}

QString BadFirmwareNameMessage(const QString& fileName) {
  return InUserLanguage(
             QT_TRANSLATE_NOOP(
                 "CommandLine",
                 "バイナリファイルの名前が正しくないため読み込めませんでした。\n%1\n"
                 "名前には SC5_Firmware_v<数字>.<数字> を含め、.bin で終わるようにしてください。\n"
                 "アプリを終了します。"))
      .arg(fileName);
}

bool CanShowWindows(const CommandLine& line, QString* reason) {
  std::optional<std::string> display;
  if (line.display) display = QFile::encodeName(*line.display).toStdString();
  const platform::DisplayProbe probe = platform::ProbeDisplay(
      platform::DisplaySettingsFromEnvironment(line.platform.toStdString(), display));
  if (probe.reachable) return true;
  if (reason == nullptr) return false;
  if (!probe.anyDisplayNamed) {
    *reason = InUserLanguage(QT_TRANSLATE_NOOP(
        "CommandLine",
        "ディスプレイがないため、ウィンドウを開けません (DISPLAY も WAYLAND_DISPLAY も設定されて"
        "いません)。"));
  } else {
    QStringList tried;
    for (const std::string& entry : probe.tried) tried << QString::fromLocal8Bit(entry.c_str());
    *reason = InUserLanguage(
                  QT_TRANSLATE_NOOP("CommandLine",
                                    "ディスプレイに接続できないため、ウィンドウを開けません: %1"))
                  .arg(tried.join(QStringLiteral(", ")));
  }
  return false;
}

std::optional<int> EndIfNoWindowCanOpen(const CommandLine& line) {
  QString reason;
  if (CanShowWindows(line, &reason)) return std::nullopt;
  Print(stderr, QStringLiteral("%1: %2\n").arg(CommandNameText(), reason));
  return kExitNoUpdate;
}

QString HelpText() {
  return InUserLanguage(
             QT_TRANSLATE_NOOP(
                 "CommandLine",
                 "使い方: %1 [--record TRACE] [FILE|FOLDER]\n"
                 "        %1 --cli [--yes] [--json] [--record TRACE] [FILE|FOLDER]\n"
                 "\n"
                 "USB で接続された SCRIBOLANTE X のファームウェアを書き換えます。ファームウェア\n"
                 "ファイル (名前に SC5_Firmware_v<数字>.<数字>.bin を含むファイル) を探し、\n"
                 "ファームウェアアップデートモードの本体がちょうど1台接続されるまで待ち、\n"
                 "両方のバージョンを表示して確認を求め、イメージを書き込み、本体にチェックサムを\n"
                 "確認させます。\n"
                 "\n"
                 "引数:\n"
                 "  FILE           書き込むファームウェアファイル。このファイルだけを使い、\n"
                 "                 そのフォルダは探しません。名前には SC5_Firmware_v<数字>.<数字>\n"
                 "                 を含め、.bin で終わること (SC5_Firmware_v1.3 (1).bin は\n"
                 "                 バージョン 1.3)\n"
                 "  FOLDER         ファームウェアファイルを探すフォルダ\n"
                 "                 (引数がなければ作業フォルダ)\n"
                 "  ファイルとフォルダは読むだけで、書き込むことはありません。\n"
                 "\n"
                 "オプション:\n"
                 "  -h, --help     このヘルプを表示して終了します\n"
                 "  -v, --version  プログラムの名前とバージョンを表示して終了します\n"
                 "  --record TRACE 本体のメーカーのライブラリへの呼び出しをすべて TRACE に\n"
                 "                 書き込みます (JSON Lines、サポートへの報告用)。アップデートは\n"
                 "                 変わりません\n"
                 "  --cli          ウィンドウを使わずに端末でアップデートします "
                 "(ディスプレイ不要)。\n"
                 "                 メッセージと操作ログは標準エラー出力に1行ずつ出ます。確認には\n"
                 "                 端末で y を入力します。端末がなければ取り消します。失敗したら\n"
                 "                 やり直さずにステータス 2 で終了します\n"
                 "  --yes          (--cli と) アップデートの確認に「はい」と答えます\n"
                 "  --json         (--cli と) 標準出力に JSON Lines (1行に1つのイベント:\n"
                 "                 file, device, progress, message, 最後に end) だけを出します\n"
                 "  Qt 自身のオプション (-platform, -style など) も使えます。\n"
                 "\n"
                 "終了ステータス:\n"
                 "  0  本体が新しいファームウェアのチェックサムを確認した\n"
                 "  1  このプログラムがすでに起動している\n"
                 "  2  アップデートせずに終了した: 取り消し、2台以上の本体、ライブラリや本体の\n"
                 "     異常、メモリ不足、ウィンドウを開けるディスプレイがない (--cli なし)、\n"
                 "     完了前にウィンドウを閉じた・終了シグナルを受けた、\n"
                 "     または正しくないコマンドライン: 存在しない・読み込めないパス、名前が条件に\n"
                 "     合わない FILE、2つ目のパスや空のパス、知らないオプション\n"
                 "\n"
                 "確認まで進んだ試行はそれぞれ次のファイルに記録されます:\n"
                 "$XDG_STATE_HOME/scribolante-fw-updater/history.log\n"
                 "(既定では ~/.local/state/scribolante-fw-updater/history.log)\n"))
      .arg(CommandNameText());
}

QString VersionText() {
  return QStringLiteral("SCRIBOLANTE X FW Updater %1\n").arg(ProgramVersion());
}

std::optional<int> ActOnCommandLine(const CommandLine& line, int& argc, char** argv) {
  switch (line.action) {
    case CommandLine::Action::Help:
      Print(stdout, HelpText());
      return kExitRequestAnswered;
    case CommandLine::Action::Version:
      Print(stdout, VersionText());
      return kExitRequestAnswered;
    case CommandLine::Action::Error:
      Print(stderr, QStringLiteral("%1: %2 (--help)\n").arg(CommandNameText(), line.error));
      return kExitNoUpdate;
    case CommandLine::Action::Run:
      break;
  }
  if (!line.path.isEmpty()) {
    QString error;
    bool badName = false;
    const std::optional<FirmwareSource> source = FirmwareSourceFor(line.path, &error, &badName);
    if (!source) {
      Print(stderr, QStringLiteral("%1: %2\n").arg(CommandNameText(), error));
      // Opened from a file manager there is no terminal to read that line: the refusal shows
      // where the user looks, in a box, when a window can be shown at all; otherwise a second
      // line says why no box came. The terminal mode has said it on standard error already.
      if (badName && !line.terminal && !EndIfNoWindowCanOpen(line)) {
        const QApplication application(argc, argv);
        QGuiApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));
        ShowMessageBoxWithType(
            nullptr, BadFirmwareNameMessage(QFileInfo(line.path).fileName()).toStdString(), nullptr,
            MB_OK);
      }
      return kExitNoUpdate;
    }
    SetFirmwareSource(*source);
  }
  // Only a run that goes on gets a trace, and only once it is this copy's run: a second copy
  // that the guard sends away must not touch the running copy's trace.
  requestedTrace = line.recordPath;
  return std::nullopt;
}

void StartRequestedRecording() {
  if (const std::optional<QString> path = std::exchange(requestedTrace, std::nullopt)) {
    StartRecording(*path);
  }
}
