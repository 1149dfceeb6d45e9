// The shell's message boxes: the unattended mode answers the default button at once, and an
// ownerless box asked for from another thread never makes that thread wait for the UI thread.
#include "app/message_boxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <thread>

#include "app_test_support.h"
#include "platform/message_box.h"
#include "update/update_view.h"

namespace {

TEST(MessageBoxesTest, UnattendedModeAnswersTheDefaultButtonAndLogsTheBox) {
  const ScopedEnvironment unattended("FWU_AUTO_ANSWER_BOXES", "1");
  ASSERT_TRUE(AutoAnswerBoxes());
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessageBoxWithType(nullptr, "本文", "見出し", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(ShowMessageBoxWithType(nullptr, "続けますか？", nullptr, MB_YESNO), IDYES);
  EXPECT_EQ(ShowMessageBoxWithType(nullptr, "移動しますか？", "", MB_OKCANCEL), IDOK);
  const std::string output = testing::internal::GetCapturedStderr();
  EXPECT_NE(output.find("[見出し] 本文\n"), std::string::npos) << output;
  EXPECT_NE(output.find("[SCRIBOLANTE X FW Updater] 続けますか？\n"), std::string::npos);
}

TEST(MessageBoxesTest, OnlyTheValueOneTurnsTheUnattendedModeOn) {
  {
    const ScopedEnvironment off("FWU_AUTO_ANSWER_BOXES", std::nullopt);
    EXPECT_FALSE(AutoAnswerBoxes());
  }
  const ScopedEnvironment zero("FWU_AUTO_ANSWER_BOXES", "0");
  EXPECT_FALSE(AutoAnswerBoxes());
}

TEST(MessageBoxesTest, InteractiveBoxReturnsTheButtonPressed) {
  const ScopedEnvironment interactive("FWU_AUTO_ANSWER_BOXES", std::nullopt);
  BoxWatcher pressNo([](QMessageBox& box) {
    for (QAbstractButton* button : box.buttons()) {
      if (button->text() == QStringLiteral("いいえ")) button->click();
    }
  });
  EXPECT_EQ(ShowMessageBoxWithType(nullptr, "続けますか？", nullptr, MB_YESNO), IDNO);
  ASSERT_EQ(pressNo.seen().size(), 1u);
  EXPECT_EQ(pressNo.seen()[0].title, QStringLiteral("SCRIBOLANTE X FW Updater"));
  EXPECT_EQ(pressNo.seen()[0].text, QStringLiteral("続けますか？"));
}

TEST(MessageBoxesTest, OwnerlessBoxFromAnotherThreadIsQueuedToTheUiThread) {
  const ScopedEnvironment interactive("FWU_AUTO_ANSWER_BOXES", std::nullopt);
  BoxWatcher boxes;
  platform::SetOwnerlessMessageBox(&PresentOwnerlessMessageBox);

  int answer = 0;
  std::thread worker([&answer] {
    answer = platform::ShowOwnerlessMessageBox("ライブラリを読み込めません", "Warning",
                                               MB_OK | MB_ICONEXCLAMATION);
  });
  worker.join();  // returned without the UI thread serving it
  EXPECT_EQ(answer, IDOK);

  ASSERT_TRUE(WaitUntil([&] { return !boxes.seen().empty(); }));
  EXPECT_EQ(boxes.seen()[0].title, QStringLiteral("Warning"));
  EXPECT_EQ(boxes.seen()[0].text, QStringLiteral("ライブラリを読み込めません"));
  EXPECT_EQ(boxes.seen()[0].icon, QMessageBox::Warning);
  platform::SetOwnerlessMessageBox(nullptr);
}

TEST(MessageBoxesTest, OwnerlessBoxOnTheUiThreadIsShownAndAnswered) {
  const ScopedEnvironment interactive("FWU_AUTO_ANSWER_BOXES", std::nullopt);
  BoxWatcher boxes;
  EXPECT_EQ(PresentOwnerlessMessageBox("text", "Warning", MB_OKCANCEL | MB_ICONEXCLAMATION),
            IDCANCEL);
  ASSERT_EQ(boxes.seen().size(), 1u);
  EXPECT_EQ(boxes.seen()[0].buttons,
            (QStringList{QStringLiteral("OK"), QStringLiteral("キャンセル")}));
}

}  // namespace
