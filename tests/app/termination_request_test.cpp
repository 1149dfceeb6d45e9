// A request from outside to end the program, inside one process: it closes the window as the
// close box does, even with the sequence's box open, a second request changes nothing, and a
// request during a refused start closes the refusal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "app/fwu_updater_app.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "platform/connect_guard.h"

namespace {

bool AnyVisibleMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible()) return true;
  }
  return false;
}

TEST(TerminationRequestTest, ClosesTheFrameWithTheSequencesBoxOpenAndKeepsTheGuard) {
  const std::string guardName = UniqueGuardName();
  std::unique_ptr<CFWUpdaterApp> application;
  // The request comes while the "firmware not found" box waits for an answer.
  BoxWatcher boxes([&](QMessageBox&) { application->OnTerminationRequested(); });
  application = std::make_unique<CFWUpdaterApp>(guardName);
  ASSERT_TRUE(application->InitInstance());
  CMainFrame* frame = application->mainFrame();

  ASSERT_TRUE(WaitUntil([&] { return !boxes.seen().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return !frame->isVisible() && !AnyVisibleMessageBox(); }));
  EXPECT_EQ(boxes.seen().front().text, QStringLiteral("バイナリファイルが見つかりませんでした。"));
  // As with the close box, the guard stays until the process ends.
  EXPECT_TRUE(platform::IsConnectGuardHeld(guardName));

  // Nothing further happens: no new box, the window stays closed.
  application->OnTerminationRequested();
  WaitUntil([] { return false; }, 1500);
  EXPECT_EQ(boxes.seen().size(), 1u);
  EXPECT_FALSE(frame->isVisible());

  application.reset();
  EXPECT_FALSE(platform::IsConnectGuardHeld(guardName));
}

TEST(TerminationRequestTest, DuringARefusedStartClosesTheRefusal) {
  const std::string guardName = UniqueGuardName();
  const platform::ConnectGuardResult other = platform::CreateConnectGuard(guardName);
  ASSERT_EQ(other.status, platform::ConnectGuardStatus::kAcquired);
  const ScopedEnvironment interactive("FWU_AUTO_ANSWER_BOXES", std::nullopt);

  CFWUpdaterApp* current = nullptr;
  BoxWatcher refusal([&](QMessageBox&) { current->OnTerminationRequested(); });
  {
    CFWUpdaterApp application(guardName);
    current = &application;
    EXPECT_FALSE(application.InitInstance());
    EXPECT_EQ(application.mainFrame(), nullptr);
  }
  ASSERT_EQ(refusal.seen().size(), 1u);
  EXPECT_EQ(refusal.seen().front().title, QStringLiteral("複数起動検知"));
  EXPECT_FALSE(AnyVisibleMessageBox());
  EXPECT_TRUE(platform::IsConnectGuardHeld(guardName));
  platform::ReleaseConnectGuard(other.handle);
}

}  // namespace
