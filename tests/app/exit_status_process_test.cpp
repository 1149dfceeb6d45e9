// The real program's exit statuses, which scripts rely on: 0 only after the device confirmed
// the update, 2 for every other ending and for a bad argument (found before any window), and
// --help and --version answered without a display. Also the FILE and FOLDER arguments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "file_contents.h"
#include "folder_snapshot.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

namespace fs = std::filesystem;

using test_support::FileLines;

// The line of a start without any display, for a Japanese-speaking user.
const QString kNoDisplayLine = QStringLiteral(
    "scribolante-fw-updater: ディスプレイがないため、ウィンドウを開けません (DISPLAY も "
    "WAYLAND_DISPLAY も設定されていません)。");

class ExitStatusProcessTest : public ProcessTest {
 protected:
  // Moves the firmware file the fixture wrote into a folder of its own, outside the working
  // folder, under name; returns that folder.
  fs::path MoveFirmwareAway(const std::string& name = "SC5_Firmware_v1.3.bin") {
    const fs::path folder = fs::path(rootFolder()) / "firmware";
    fs::create_directories(folder);
    fs::rename(fs::path(workFolder().toStdString()) / "SC5_Firmware_v1.3.bin", folder / name);
    return folder;
  }
};

TEST_F(ExitStatusProcessTest, ACompletedUpdateOfAFileNamedOnTheCommandLineEndsWithZero) {
  WriteFirmware(2);
  // Named as a browser names a second download, which the folder search would not take.
  const fs::path folder = MoveFirmwareAway("SC5_Firmware_v1.3 (1).bin");
  // An earlier version in the same folder, listed or not before it, is not taken.
  std::ofstream(folder / "SC5_Firmware_v1.2.bin") << "older";
  const test_support::FolderSnapshot firmwareBefore = test_support::FolderSnapshot::Take(folder);
  SpawnedProgram& program = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "2"}},
                                  {(folder / "SC5_Firmware_v1.3 (1).bin").string()});
  ExpectEndsWith(program, 0);
  EXPECT_TRUE(program.ErrorOutput().contains(QStringLiteral("[log] Update Complete.")));
  EXPECT_TRUE(program.ErrorOutput().contains(QStringLiteral("[log] End Application")));
  // Neither the firmware's folder nor the working folder got anything.
  EXPECT_THAT(firmwareBefore.DifferencesTo(test_support::FolderSnapshot::Take(folder)),
              ::testing::IsEmpty());
  EXPECT_TRUE(QDir(workFolder()).isEmpty());
  const auto history = FileLines(historyFile());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_NE(history[0].find("\tSC5_Firmware_v1.3 (1).bin\t65536\t"), std::string::npos)
      << history[0];
  EXPECT_TRUE(history[0].ends_with("\t1.0\tcompleted")) << history[0];
}

TEST_F(ExitStatusProcessTest, TwoDevicesEndWithTwoAndAFolderArgumentIsSearched) {
  WriteFirmware(2);
  const fs::path folder = MoveFirmwareAway();
  WriteScenario("list 1 SCRIBOLANTE-X-1 SCRIBOLANTE-X-2\n");
  SpawnedProgram& program = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}}, {folder.string()});
  ExpectEndsWith(program, 2);
  const QString errors = program.ErrorOutput();
  // The file was found in the named folder (the working folder is empty) before the devices
  // were counted.
  EXPECT_FALSE(errors.contains(QStringLiteral("バイナリファイルが見つかりませんでした。")));
  EXPECT_TRUE(
      errors.contains(QStringLiteral("[message box] SCRIBOLANTE X が2台以上接続されています。")))
      << errors.toStdString();
  EXPECT_FALSE(fs::exists(historyFile())) << "no question was asked";
}

TEST_F(ExitStatusProcessTest, ABadCommandLineEndsWithTwoAndOneLineWithoutADisplay) {
  WriteFirmware(2);
  const std::string missing = rootFolder() + "/no-such-firmware.bin";
  const std::string unnamed = workFolder().toStdString() + "/SC5_Firmware_v1.3.bin.part";
  std::ofstream(unnamed) << "partial";
  const test_support::FolderSnapshot before =
      test_support::FolderSnapshot::Take(workFolder().toStdString());
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{missing}, {"--no-such-option"}, {"one", "two"}, {""}, {unnamed}}) {
    // Qt would end the program if it were asked for a display here.
    SpawnedProgram& program =
        Start({{"QT_QPA_PLATFORM", "xcb"}}, arguments, {"DISPLAY", "WAYLAND_DISPLAY"});
    ExpectEndsWith(program, 2);
    const QString errors = program.ErrorOutput();
    EXPECT_TRUE(errors.startsWith(QStringLiteral("scribolante-fw-updater: ")))
        << errors.toStdString();
    if (arguments.front() == missing || arguments.front() == unnamed) {
      EXPECT_TRUE(errors.contains(QString::fromStdString(arguments.front())));
    }
    // The refusal of a badly named file, meant for a box, says why no box came.
    const QStringList lines = errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), arguments.front() == unnamed ? 2 : 1) << errors.toStdString();
    if (arguments.front() == unnamed) {
      EXPECT_EQ(lines[1].toStdString(), kNoDisplayLine.toStdString());
    }
  }
  // Nothing of the program ran: the vendor library was never asked for anything.
  EXPECT_EQ(TraceLines("factory"), 0);
  EXPECT_THAT(before.DifferencesTo(test_support::FolderSnapshot::Take(workFolder().toStdString())),
              ::testing::IsEmpty());
}

TEST_F(ExitStatusProcessTest, AStartWhereNoWindowCanOpenEndsWithTwoAndOneLineBeforeAnythingElse) {
  WriteFirmware(2);
  const std::string trace = rootFolder() + "/calls.trace";
  const std::string gone = rootFolder() + "/wayland-gone";
  const std::vector<std::string> unset{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                       "XDG_SESSION_TYPE", "WAYLAND_SOCKET"};
  struct Case {
    std::map<std::string, std::string> environment;
    QString line;
  };
  const std::vector<Case> cases{
      // ssh without X forwarding
      {{}, kNoDisplayLine},
      // a DISPLAY whose server has gone; English for an English-speaking user
      {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4093"}, {"LC_ALL", "en_US.UTF-8"}},
       QStringLiteral("scribolante-fw-updater: No window can be opened: the display cannot be "
                      "reached: X11 :4093")},
      // a Wayland session whose compositor is not there, and no X display to fall back to
      {{{"WAYLAND_DISPLAY", gone}},
       QStringLiteral(
           "scribolante-fw-updater: ディスプレイに接続できないため、ウィンドウを開けません: "
           "Wayland ") +
           QString::fromStdString(gone)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.toStdString());
    std::vector<std::string> removed;
    for (const std::string& name : unset) {
      if (!c.environment.contains(name)) removed.push_back(name);
    }
    SpawnedProgram& program = Start(c.environment, {"--record", trace}, removed);
    ExpectEndsWith(program, 2);
    EXPECT_EQ(program.ErrorOutput().toStdString(), (c.line + QLatin1Char('\n')).toStdString());
  }
  // No vendor call, no history, and no trace was begun (an earlier one would have been
  // replaced).
  EXPECT_EQ(TraceLines("factory"), 0);
  EXPECT_FALSE(fs::exists(historyFile()));
  EXPECT_FALSE(fs::exists(trace));
}

TEST_F(ExitStatusProcessTest, AFileWhoseNameHoldsNoVersionIsRefusedInABoxWhereWindowsCanShow) {
  WriteFirmware(2);
  const fs::path folder = MoveFirmwareAway("SC5_Firmware_v1.bin");
  SpawnedProgram& program =
      Start({{"FWU_AUTO_ANSWER_BOXES", "1"}}, {(folder / "SC5_Firmware_v1.bin").string()});
  ExpectEndsWith(program, 2);
  const QString errors = program.ErrorOutput();
  EXPECT_TRUE(errors.contains(QStringLiteral(
      "[SCRIBOLANTE X FW Updater] バイナリファイルの名前が正しくないため読み込めませんでした。\n"
      "SC5_Firmware_v1.bin\n")))
      << errors.toStdString();
  // Nothing was looked for, loaded or noted.
  EXPECT_FALSE(errors.contains(QStringLiteral("[log]")));
  EXPECT_EQ(TraceLines("factory"), 0);
  EXPECT_FALSE(fs::exists(historyFile()));
}

TEST_F(ExitStatusProcessTest, HelpAndVersionNeedNoDisplayAndLeaveTheDeviceAlone) {
  const std::vector<std::string> noDisplay{"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  SpawnedProgram& version = Start({}, {"--version"}, noDisplay);
  ExpectEndsWith(version, 0);
  EXPECT_EQ(version.StandardOutput(), QStringLiteral("SCRIBOLANTE X FW Updater 1.3.0.12\n"));

  SpawnedProgram& help = Start({{"LC_ALL", "en_US.UTF-8"}}, {"--help"}, noDisplay);
  ExpectEndsWith(help, 0);
  const QString text = help.StandardOutput();
  EXPECT_TRUE(text.startsWith(
      QStringLiteral("Usage: scribolante-fw-updater [--record TRACE] [FILE|FOLDER]")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Exit status:")));
  EXPECT_EQ(TraceLines("factory"), 0);
}

}  // namespace
