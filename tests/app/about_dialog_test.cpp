// The about box: the version read from the running program's own stamp, any part up to
// 65535 shown as it is, "Version:" alone for a file without a stamp, and the update going on
// behind the open box.
#include "app/about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <cstring>
#include <memory>

#include "app/fwu_updater_app.h"
#include "app/main_frame.h"
#include "app_test_support.h"
#include "update/view/fw_updater_view.h"

namespace {

// A copy of this test program with its stamp's parts replaced: a real ELF file, stamped.
QString StampedCopy(const QTemporaryDir& folder, const std::array<quint16, 4>& parts) {
  QFile self(QStringLiteral("/proc/self/exe"));
  if (!self.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = self.readAll();
  // The note as it stands in the file: its header (name size 7, description size 8, type 1)
  // and padded name, then the four parts.
  // Put together here, so that the pattern does not stand in this program's own data too.
  QByteArray note;
  for (const quint32 field : {7u, 8u, 1u}) {
    note.append(reinterpret_cast<const char*>(&field), sizeof(field));
  }
  note.append("SCXVER");
  note.append(2, '\0');
  // The debug information may repeat the note's bytes; every copy gets the new parts.
  qsizetype at = bytes.indexOf(note);
  if (at < 0) return {};
  for (; at >= 0; at = bytes.indexOf(note, at + 1)) {
    for (int index = 0; index < 4; ++index) {
      const quint16 part = parts[index];
      std::memcpy(bytes.data() + at + note.size() + 2 * index, &part, 2);
    }
  }
  const QString path = folder.filePath(QStringLiteral("stamped-program"));
  QFile copy(path);
  if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size()) return {};
  return path;
}

TEST(AboutDialogTest, ShowsTheRunningProgramsOwnVersion) {
  CAboutDlg dialog;
  EXPECT_EQ(dialog.versionLabel()->text(), QStringLiteral("Version:1.3.0.12"));
  EXPECT_EQ(dialog.versionLabel()->objectName(), QStringLiteral("version1016"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("SCRIBOLANTE X FW Updater について"));
}

TEST(AboutDialogTest, ShowsEveryPartUnsignedAndNothingForAFileWithoutAStamp) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString stamped = StampedCopy(folder, {65535, 0, 65535, 7});
  ASSERT_FALSE(stamped.isEmpty());
  EXPECT_EQ(CAboutDlg(nullptr, stamped).versionLabel()->text(),
            QStringLiteral("Version:65535.0.65535.7"));

  const QString plain = folder.filePath(QStringLiteral("plain.bin"));
  QFile file(plain);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray("\x7F") + "ELF but nothing more");
  file.close();
  EXPECT_EQ(CAboutDlg(nullptr, plain).versionLabel()->text(), QStringLiteral("Version:"));
  EXPECT_EQ(CAboutDlg(nullptr, folder.filePath(QStringLiteral("missing"))).versionLabel()->text(),
            QStringLiteral("Version:"));
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
