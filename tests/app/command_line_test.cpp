// The command line: what each form of it asks for, Qt's own options left alone, and which
// paths are refused before the program starts.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
      {{"one", "two"}, A::Error, {}},
      {{"--bogus"}, A::Error, {}},
      {{"-x"}, A::Error, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
    const CommandLine line = Parse(c.arguments);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.path, c.path);
    EXPECT_EQ(line.error.isEmpty(), c.action != A::Error) << line.error.toStdString();
    EXPECT_EQ(line.unknownOption, c.action == A::Error &&
                                      (c.arguments.contains(QStringLiteral("--bogus")) ||
                                       c.arguments.contains(QStringLiteral("-x"))));
  }
}

TEST(CommandLineTest, AFolderIsSearchedAndAFileGoesFirstInItsFolder) {
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
  EXPECT_EQ(fromFolder->preferredName, "");

  const auto fromFile = FirmwareSourceFor(file, &error);
  ASSERT_TRUE(fromFile.has_value()) << error.toStdString();
  EXPECT_EQ(fromFile->folder, folder.toStdString());
  EXPECT_EQ(fromFile->preferredName, "SC5_Firmware_v1.3.bin");

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
  QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner);
}

}  // namespace
