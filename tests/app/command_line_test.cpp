// The command line: what each form of it asks for, Qt's own options left alone, and which
// paths are refused before the program starts.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app_test_support.h"

namespace {

CommandLine Parse(const QStringList& arguments) {
  return ParseCommandLine(QStringList{QStringLiteral("FWUpdater")} + arguments);
}

TEST(CommandLineTest, EachFormAsksForWhatItSays) {
  struct Case {
    QStringList arguments;
    CommandLine::Action action;
    QString path;
  };
  using A = CommandLine::Action;
  const Case cases[] = {
      {{}, A::Run, {}},
      {{"firmware"}, A::Run, "firmware"},
      {{"SC5_Firmware_v1.3.bin"}, A::Run, "SC5_Firmware_v1.3.bin"},
      {{"--help"}, A::Help, {}},
      {{"-h"}, A::Help, {}},
      {{"--version"}, A::Version, {}},
      {{"-v"}, A::Version, {}},
      // Help wins over anything else, even a line that is wrong otherwise.
      {{"a", "b", "--bogus", "--help"}, A::Help, {}},
      // Qt's options with their values are not taken for the path.
      {{"-platform", "offscreen", "folder"}, A::Run, "folder"},
      {{"--style=Fusion", "-reverse", "folder"}, A::Run, "folder"},
      {{"-qwindowtitle", "x", "-reverse"}, A::Run, {}},
      // "-reverse" is one option, not -r -e -v...: no version request hidden in it.
      {{"-reverse"}, A::Run, {}},
      // After "--" everything is a path, even what looks like an option.
      {{"--", "-v"}, A::Run, "-v"},
      {{"-display", ":1", "-nograb", "--stylesheet=a.qss", "folder"}, A::Run, "folder"},
      {{"one", "two"}, A::Error, {}},
      {{"--bogus"}, A::Error, {}},
      {{"-x"}, A::Error, {}},
      // Only the forms Qt reads: Qt would take neither, so neither may pass.
      {{"--platform=offscreen"}, A::Error, {}},
      {{"folder", "-platform"}, A::Error, {}},
      // An empty path names nothing; it must not mean the working folder.
      {{""}, A::Error, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
    const CommandLine line = Parse(c.arguments);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.path, c.path);
    EXPECT_EQ(line.error.isEmpty(), c.action != A::Error) << line.error.toStdString();
  }
}

TEST(CommandLineTest, TheTerminalModeTakesItsOwnOptionsAndTheyNeedIt) {
  const CommandLine terminal = Parse({"--json", "folder", "--cli", "--yes"});
  EXPECT_EQ(terminal.action, CommandLine::Action::Run);
  EXPECT_TRUE(terminal.terminal && terminal.assumeYes && terminal.json);
  EXPECT_EQ(terminal.path, QStringLiteral("folder"));
  const CommandLine window = Parse({"folder"});
  EXPECT_FALSE(window.terminal || window.assumeYes || window.json);
  // The window asks its own questions: the terminal's answers without the terminal are a
  // mistake on the line, not something to ignore.
  for (const QStringList& arguments : {QStringList{"--yes"}, QStringList{"--json", "folder"}}) {
    const CommandLine line = Parse(arguments);
    EXPECT_EQ(line.action, CommandLine::Action::Error);
    EXPECT_TRUE(line.error.contains(QStringLiteral("--cli"))) << line.error.toStdString();
  }
}

TEST(CommandLineTest, ABoxIsShownOnlyWhereQtCanOpenItsPlatform) {
  const ScopedEnvironment noX("DISPLAY", std::nullopt);
  const ScopedEnvironment noWayland("WAYLAND_DISPLAY", std::nullopt);
  const ScopedEnvironment noPlatform("QT_QPA_PLATFORM", std::nullopt);
  const ScopedEnvironment noSession("XDG_SESSION_TYPE", std::nullopt);
  QString reason;
  EXPECT_FALSE(CanShowWindows(Parse({}), &reason));
  EXPECT_TRUE(reason.contains(QStringLiteral("DISPLAY も WAYLAND_DISPLAY も")))
      << reason.toStdString();
  EXPECT_TRUE(CanShowWindows(Parse({"-platform", "offscreen"})));
  // A display that is named is tried, not trusted: no X server has this number here.
  EXPECT_FALSE(CanShowWindows(Parse({"-display", ":4093"}), &reason));
  EXPECT_TRUE(reason.endsWith(QStringLiteral(": X11 :4093"))) << reason.toStdString();
  {
    const ScopedEnvironment x("DISPLAY", ":4093");
    EXPECT_FALSE(CanShowWindows(Parse({})));
    const ScopedEnvironment fallBack("QT_QPA_PLATFORM", "xcb;offscreen");
    EXPECT_TRUE(CanShowWindows(Parse({})));
  }
  const ScopedEnvironment wayland("QT_QPA_PLATFORM", "wayland;xcb");
  EXPECT_FALSE(CanShowWindows(Parse({})));
}

TEST(CommandLineTest, AFolderIsSearchedAndAFileIsTheOneCandidate) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString folder = root.filePath(QStringLiteral("firmware"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = folder + QStringLiteral("/SC5_Firmware_v1.3.bin");
  QFile(file).open(QIODevice::WriteOnly);
  QString error;

  const auto fromFolder = FirmwareSourceFor(folder, &error);
  ASSERT_TRUE(fromFolder.has_value()) << error.toStdString();
  EXPECT_EQ(fromFolder->folder, folder.toStdString());
  EXPECT_EQ(fromFolder->fileName, "");

  const auto fromFile = FirmwareSourceFor(file, &error);
  ASSERT_TRUE(fromFile.has_value()) << error.toStdString();
  EXPECT_EQ(fromFile->folder, folder.toStdString());
  EXPECT_EQ(fromFile->fileName, "SC5_Firmware_v1.3.bin");

  // A relative path is taken from the working folder.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(root.path()));
  const auto relative = FirmwareSourceFor(QStringLiteral("firmware/SC5_Firmware_v1.3.bin"), &error);
  QDir::setCurrent(previous);
  ASSERT_TRUE(relative.has_value());
  EXPECT_EQ(relative->folder, QDir(root.path()).canonicalPath().toStdString() + "/firmware");
}

TEST(CommandLineTest, PathsThatCannotBeUsedAreRefusedWithOneLine) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  QString error;
  EXPECT_FALSE(FirmwareSourceFor(root.filePath(QStringLiteral("missing.bin")), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("missing.bin"))) << error.toStdString();
  EXPECT_FALSE(error.contains(QLatin1Char('\n')));
  EXPECT_FALSE(FirmwareSourceFor(QString(), &error));
  // A file whose name holds no version is refused, and said to be, with its path.
  const QString unnamed = root.filePath(QStringLiteral("SC5_Firmware_v1.bin"));
  QFile(unnamed).open(QIODevice::WriteOnly);
  bool badName = false;
  EXPECT_FALSE(FirmwareSourceFor(unnamed, &error, &badName));
  EXPECT_TRUE(badName);
  EXPECT_TRUE(error.contains(unnamed)) << error.toStdString();

  const QString locked = root.filePath(QStringLiteral("locked"));
  ASSERT_TRUE(QDir().mkpath(locked));
  const QString lockedFile = root.filePath(QStringLiteral("SC5_Firmware_v1.3.bin"));
  QFile(lockedFile).open(QIODevice::WriteOnly);
  QFile::setPermissions(locked, QFileDevice::WriteOwner);
  QFile::setPermissions(lockedFile, QFileDevice::WriteOwner);
  if (access(QFile::encodeName(lockedFile).constData(), R_OK) == 0) {
    GTEST_SKIP() << "permissions do not apply to this user";
  }
  error.clear();
  EXPECT_FALSE(FirmwareSourceFor(locked, &error));
  EXPECT_TRUE(error.contains(locked)) << error.toStdString();
  error.clear();
  EXPECT_FALSE(FirmwareSourceFor(lockedFile, &error));
  EXPECT_TRUE(error.contains(lockedFile)) << error.toStdString();
  QFile::setPermissions(locked,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace
