// Start-up and the single-instance guard inside one process: the window comes up holding the
// guard, a start while the name is held is refused with the message and no window, Exit drops
// the guard, and a program without a guard still exits cleanly.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <memory>

#include "app/fwu_updater_app.h"
#include "app/fwu_updater_doc.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "platform/connect_guard.h"
#include "update/view/fw_updater_view.h"

namespace {

bool AnyMainFrame() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<CMainFrame*>(widget) != nullptr) return true;
  }
  return false;
}

class StartUpTest : public testing::Test {
 protected:
  std::string m_guardName = UniqueGuardName();
};

TEST_F(StartUpTest, StartTakesTheGuardAndShowsTheFrameWithTheView) {
  BoxWatcher sequenceBoxes;
  CFWUpdaterApp application(m_guardName);
  ASSERT_TRUE(application.InitInstance());
  EXPECT_NE(g_hConnectGuard, platform::kNoConnectGuard);
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_guardName));

  CMainFrame* frame = application.mainFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(frame->isVisible());
  ASSERT_NE(frame->view(), nullptr);
  EXPECT_EQ(frame->centralWidget(), frame->view());
  EXPECT_TRUE(application.document()->pathName().isEmpty());
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("FWUpdater.AppID.NoVersion"));
  // The view has the edit popup menu the application registered.
  ASSERT_NE(application.editPopupMenu(), nullptr);
}

// A screen reader announces the product, not the internal id; and no display name is set that
// X11 or Wayland would append to every title and box caption.
TEST_F(StartUpTest, AssistiveTechnologyHearsTheProductNameAndTitlesStayAsTheyAre) {
  CFWUpdaterApp application(m_guardName);
  ASSERT_TRUE(application.InitInstance());
  QAccessibleInterface* accessibleApplication = QAccessible::queryAccessibleInterface(qApp);
  ASSERT_NE(accessibleApplication, nullptr);
  EXPECT_EQ(accessibleApplication->text(QAccessible::Name),
            QStringLiteral("SCRIBOLANTE X FW Updater"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("FWUpdater.AppID.NoVersion"));
  EXPECT_EQ(application.mainFrame()->windowTitle(), QStringLiteral("SCRIBOLANTE X FW Updater"));
}

TEST_F(StartUpTest, StartWhileTheNameIsHeldShowsTheMessageWithoutAWindowAndFails) {
  const platform::ConnectGuardResult other = platform::CreateConnectGuard(m_guardName);
  ASSERT_EQ(other.status, platform::ConnectGuardStatus::kAcquired);
  const ScopedEnvironment interactive("FWU_AUTO_ANSWER_BOXES", std::nullopt);

  bool frameWhileBoxShown = true;
  BoxWatcher refusal([&](QMessageBox& box) {
    frameWhileBoxShown = AnyMainFrame();
    box.button(QMessageBox::Ok)->click();
  });
  {
    CFWUpdaterApp application(m_guardName);
    EXPECT_FALSE(application.InitInstance());
    EXPECT_EQ(application.mainFrame(), nullptr);
    EXPECT_EQ(g_hConnectGuard, platform::kNoConnectGuard);
  }
  ASSERT_EQ(refusal.seen().size(), 1u);
  const SeenBox& box = refusal.seen().front();
  EXPECT_EQ(box.title, QStringLiteral("複数起動検知"));
  EXPECT_EQ(box.text, QStringLiteral("他のアプリケーションが起動しているため、SCRIBOLANTE X "
                                     "との通信ができません。\n終了します。"));
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_FALSE(frameWhileBoxShown);
  EXPECT_FALSE(AnyMainFrame());

  // The holder was not disturbed.
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_guardName));
  platform::ReleaseConnectGuard(other.handle);
}

TEST_F(StartUpTest, RefusalAnswersByItselfInUnattendedRuns) {
  const platform::ConnectGuardResult other = platform::CreateConnectGuard(m_guardName);
  ASSERT_EQ(other.status, platform::ConnectGuardStatus::kAcquired);
  const ScopedEnvironment unattended("FWU_AUTO_ANSWER_BOXES", "1");
  testing::internal::CaptureStderr();
  {
    CFWUpdaterApp application(m_guardName);
    EXPECT_EQ(application.Run(), 1);
  }
  const std::string output = testing::internal::GetCapturedStderr();
  EXPECT_NE(output.find("[複数起動検知] 他のアプリケーションが起動しているため"), std::string::npos)
      << output;
  platform::ReleaseConnectGuard(other.handle);
}

// Run's status after a whole sequence against the simulated device (one good device by
// default), the firmware taken from a folder as a FOLDER argument sets it: the user declines
// (2), then in a new start accepts and the device confirms (0).
TEST_F(StartUpTest, RunAnswersTwoWhenDeclinedAndZeroOnlyAfterAConfirmedUpdate) {
  const OneGoodDeviceStart start;

  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    SCOPED_TRACE(answer == QMessageBox::Yes ? "accepted" : "declined");
    std::vector<QString> texts;
    BoxWatcher boxes([&](QMessageBox& box) {
      texts.push_back(box.text());
      QAbstractButton* button = box.button(answer);
      (button != nullptr ? button : box.escapeButton())->click();
    });
    CFWUpdaterApp application(m_guardName);
    // A sequence that never ends fails the test instead of hanging it.
    QTimer::singleShot(60000, &application, &CFWUpdaterApp::OnTerminationRequested);
    const int status = application.Run();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), QStringLiteral("SCRIBOLANTE X をUpdateしますか？"));
    if (answer == QMessageBox::Yes) {
      EXPECT_EQ(texts.back(),
                QStringLiteral("SCRIBOLANTE X のUpdateが完了しました。\nアプリを終了します。"));
      EXPECT_EQ(status, 0);
    } else {
      EXPECT_EQ(texts.back(),
                QStringLiteral("SCRIBOLANTE X のUpdateを中止します。\nアプリを終了します。"));
      EXPECT_EQ(status, 2);
    }
  }
}

TEST_F(StartUpTest, ExitReleasesTheGuardAndClosesSoTheNextStartSucceeds) {
  BoxWatcher sequenceBoxes;
  auto first = std::make_unique<CFWUpdaterApp>(m_guardName);
  ASSERT_TRUE(first->InitInstance());
  ASSERT_TRUE(platform::IsConnectGuardHeld(m_guardName));

  first->mainFrame()->commandAction(ID_APP_EXIT)->trigger();
  EXPECT_EQ(g_hConnectGuard, platform::kNoConnectGuard);
  EXPECT_FALSE(platform::IsConnectGuardHeld(m_guardName));
  EXPECT_FALSE(first->mainFrame()->isVisible());
  // A second Exit has nothing left to release.
  first->OnAppExit();
  EXPECT_EQ(g_hConnectGuard, platform::kNoConnectGuard);

  first.reset();
  CFWUpdaterApp second(m_guardName);
  EXPECT_TRUE(second.InitInstance());
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_guardName));
}

TEST_F(StartUpTest, CloseBoxKeepsTheGuardUntilTheApplicationEnds) {
  BoxWatcher sequenceBoxes;
  auto application = std::make_unique<CFWUpdaterApp>(m_guardName);
  ASSERT_TRUE(application->InitInstance());
  application->mainFrame()->close();
  EXPECT_FALSE(application->mainFrame()->isVisible());
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_guardName));
  application.reset();
  EXPECT_FALSE(platform::IsConnectGuardHeld(m_guardName));
}

TEST_F(StartUpTest, WithoutAGuardTheProgramRunsAndExitClosesNormally) {
  BoxWatcher sequenceBoxes;
  // A name the system cannot take stands for a guard that cannot be created.
  const std::string impossible(300, 'g');
  CFWUpdaterApp application(impossible);
  ASSERT_TRUE(application.InitInstance());
  EXPECT_EQ(g_hConnectGuard, platform::kNoConnectGuard);
  EXPECT_TRUE(application.mainFrame()->isVisible());

  application.OnAppExit();
  EXPECT_FALSE(application.mainFrame()->isVisible());
  EXPECT_EQ(g_hConnectGuard, platform::kNoConnectGuard);
}

}  // namespace
