// The about box: the version read from the running program's own stamp, any part up to
// 65535 shown as it is, "Version:" alone without a stamp, and the update going on behind the
// open box.
#include "app/about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/fwu_updater_app.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "update/view/fw_updater_view.h"

namespace {

TEST(AboutDialogTest, ShowsTheRunningProgramsOwnVersion) {
  CAboutDlg dialog;
  EXPECT_EQ(dialog.versionLabel()->text(), QStringLiteral("Version:1.3.0.12"));
  EXPECT_EQ(dialog.versionLabel()->objectName(), QStringLiteral("version1016"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("SCRIBOLANTE X FW Updater について"));
}

TEST(AboutDialogTest, ShowsEveryPartUnsignedAndNothingWithoutAStamp) {
  EXPECT_EQ(CAboutDlg::VersionLabelText(platform::VersionStamp{{65535, 0, 65535, 7}}),
            QStringLiteral("Version:65535.0.65535.7"));
  EXPECT_EQ(CAboutDlg::VersionLabelText(std::nullopt), QStringLiteral("Version:"));
}

TEST(AboutDialogTest, LaidOutOnItsTemplateWithOkAsTheDefaultButton) {
  CAboutDlg dialog;
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
  QPushButton* ok = dialog.okButton();
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  EXPECT_TRUE(ok->isDefault());
  // Everything lies inside the box, the label to the right of the icon, OK below the label.
  const QRect inside(QPoint(0, 0), dialog.size());
  for (QWidget* child : dialog.findChildren<QWidget*>()) {
    EXPECT_TRUE(inside.contains(child->geometry())) << child->objectName().toStdString();
  }
  auto* icon = dialog.findChild<QLabel*>(QStringLiteral("programIcon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_LT(icon->geometry().right(), dialog.versionLabel()->geometry().left());
  EXPECT_GT(ok->geometry().top(), dialog.versionLabel()->geometry().bottom());
  auto* maker = dialog.findChild<QLabel*>(QStringLiteral("makerLine"));
  ASSERT_NE(maker, nullptr);
  EXPECT_TRUE(maker->text().startsWith(QStringLiteral("Copyright")));
}

TEST(AboutDialogTest, OkAndEscapeCloseTheBox) {
  CAboutDlg accepted;
  accepted.show();
  accepted.okButton()->click();
  EXPECT_EQ(accepted.result(), QDialog::Accepted);
  EXPECT_FALSE(accepted.isVisible());

  CAboutDlg escaped;
  escaped.show();
  QTest::keyClick(&escaped, Qt::Key_Escape);
  EXPECT_EQ(escaped.result(), QDialog::Rejected);
  EXPECT_FALSE(escaped.isVisible());
}

TEST(AboutDialogTest, TheUpdateGoesOnBehindTheOpenBox) {
  BoxWatcher boxes;  // answers the sequence's "no firmware file" box each time
  CFWUpdaterApp application(UniqueGuardName());
  ASSERT_TRUE(application.InitInstance());
  auto* log = application.mainFrame()->findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  ASSERT_NE(log, nullptr);

  bool sawModalBox = false;
  int linesWhenOpened = -1;
  bool grewBehindBox = false;
  auto* watch = new QTimer(&application);
  QObject::connect(watch, &QTimer::timeout, watch, [&] {
    auto* dialog = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    sawModalBox = true;
    if (linesWhenOpened < 0) linesWhenOpened = log->count();
    // The sequence keeps adding its lines while the box is open.
    if (log->count() > linesWhenOpened) {
      grewBehindBox = true;
      dialog->okButton()->click();
    }
  });
  watch->start(10);
  // Give up after a generous while rather than hang if the sequence stood still.
  QTimer::singleShot(60000, &application, [] {
    if (auto* dialog = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
      dialog->reject();
    }
  });

  application.mainFrame()->commandAction(ID_APP_ABOUT)->trigger();
  watch->stop();
  EXPECT_TRUE(sawModalBox);
  EXPECT_TRUE(grewBehindBox);
}

}  // namespace
