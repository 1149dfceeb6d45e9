// What the update tells the desktop session: one writing stretch from the yes to the end of
// the writes, before any message that waits for the user, with the progress once per whole
// percent; a restart takes a new stretch at its own yes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recording_desktop_session.h"
#include "update/firmware_image.h"
#include "update/update_view.h"
#include "update_run_fixture.h"

namespace {

class DesktopActivity : public UpdateRunTest {
 protected:
  void SetUp() override { MakeWorkingFolder("fwu-desktop"); }
  // At every box: whether a stretch was open while it waited for the user.
  void WatchBoxes() {
    m_view.SetMessageBoxHandler([this](const MessageBoxRecord& box) {
      m_writingAtBox.push_back(box.text + (m_session.Writing() ? " [writing]" : ""));
      return box.type & MB_YESNO ? IDYES : IDOK;
    });
  }

  RecordingDesktopSession m_session;
  std::vector<std::string> m_writingAtBox;
};

TEST_F(DesktopActivity, AWholeUpdateIsOneStretchWithEveryPercentOnceAndEndsBeforeTheMessage) {
  // 250 blocks: the bar moves in steps of 0.4 %, so some steps share a whole percent.
  WriteFirmware("SC5_Firmware_v1.3.bin", PatternedFirmware(250 * FW_BLOCK_SIZE));
  WatchBoxes();
  Start("checksum auto");
  EXPECT_EQ(Run(), RunEnd::Closed);

  EXPECT_EQ(m_session.Stretches(), (std::vector<std::string>{"started", "stopped"}));
  const std::vector<int> percents = m_session.Percents();
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
  // Rising by whole percents, none sent twice, and the stop after the last of them.
  EXPECT_TRUE(std::adjacent_find(percents.begin(), percents.end(),
                                 [](int a, int b) { return b <= a; }) == percents.end());
  EXPECT_EQ(percents.size(), 100u);  // 0..98 while writing, then 100 once confirmed
  EXPECT_EQ(m_session.Events().back(), "stopped");
  EXPECT_EQ(m_writingAtBox, (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
}

TEST_F(DesktopActivity, AFailureThatStartsOverHoldsNothingDuringItsPauseAndTakesANewStretch) {
  WriteFirmware("SC5_Firmware_v1.3.bin", PatternedFirmware(8 * FW_BLOCK_SIZE));
  WatchBoxes();
  // Exchange 8 is block 4's data: the first pass fails there, the second completes.
  Start("checksum auto\nfail transfer 8");
  EXPECT_EQ(Run(), RunEnd::Closed);

  EXPECT_EQ(m_session.Stretches(),
            (std::vector<std::string>{"started", "stopped", "started", "stopped"}));
  EXPECT_EQ(m_writingAtBox, (std::vector<std::string>{kConfirmUpdateText, kCommunicationText,
                                                      kConfirmUpdateText, kCompleteText}));
}

TEST_F(DesktopActivity, ADeclinedUpdateTellsTheDesktopNothing) {
  WriteFirmware("SC5_Firmware_v1.3.bin", PatternedFirmware(2 * FW_BLOCK_SIZE));
  m_view.QueueAnswers({IDNO});
  Start("");
  EXPECT_EQ(Run(), RunEnd::Closed);
  EXPECT_TRUE(m_session.Events().empty());
}

TEST_F(DesktopActivity, AWindowClosedMidWriteEndsTheStretch) {
  WriteFirmware("SC5_Firmware_v1.3.bin", PatternedFirmware(64 * FW_BLOCK_SIZE));
  // A device's pace, so that the close comes in the middle of the blocks.
  Start("rate 200000");
  EXPECT_EQ(Run([&] { return m_session.Percents().size() >= 3; }), RunEnd::UntilMet);
  EXPECT_TRUE(m_session.Writing());
  m_view.BeginClosing();
  m_controller->Shutdown();
  EXPECT_FALSE(m_session.Writing());
  EXPECT_EQ(m_session.Stretches(), (std::vector<std::string>{"started", "stopped"}));
}

}  // namespace
