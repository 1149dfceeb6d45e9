// The main frame as a user meets it: a fixed window titled with the application title alone,
// two menus of one item each, and an accelerator table whose edit and pane keys do nothing,
// while New, Open and Save act on the empty document without touching any file.
#include "app/main_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_settings.h"
#include "app/fwu_updater_app.h"
#include "app/fwu_updater_doc.h"
#include "app_test_support.h"
#include "folder_snapshot.h"
#include "platform/connect_guard.h"
#include "update/view/fw_updater_view.h"

namespace {

using test_support::FolderSnapshot;

const QString kTitle = QStringLiteral("SCRIBOLANTE X FW Updater");

// Writes a whole file (the firmware or a scenario of the test); false if it could not.
bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A test's working folder, the current folder for as long as it lives: a firmware file
// (SC5_Firmware_v1.0.bin) and a scenario that the simulated library is pointed at.
class ScenarioWorkingFolder {
 public:
  ScenarioWorkingFolder() = default;
  ~ScenarioWorkingFolder() {
    if (!m_previous.isEmpty()) QDir::setCurrent(m_previous);
  }
  ScenarioWorkingFolder(const ScenarioWorkingFolder&) = delete;
  ScenarioWorkingFolder& operator=(const ScenarioWorkingFolder&) = delete;

  // Writes a firmware file of firmwareBytes bytes and the scenario, points the simulated
  // library at it and makes the folder current; false if any of it failed.
  bool Enter(qsizetype firmwareBytes, const QString& scenarioName, const QByteArray& scenario) {
    if (!m_folder.isValid()) return false;
    if (!WriteFile(m_folder.filePath(QStringLiteral("SC5_Firmware_v1.0.bin")),
                   QByteArray(firmwareBytes, 0x5A))) {
      return false;
    }
    const QString scenarioPath = m_folder.filePath(scenarioName);
    if (!WriteFile(scenarioPath, scenario)) return false;
    m_scenario.emplace("GPLUS_SIM_SCENARIO", scenarioPath.toStdString());
    m_previous = QDir::currentPath();
    return QDir::setCurrent(m_folder.path());
  }

 private:
  QTemporaryDir m_folder;
  QString m_previous;
  std::optional<ScopedEnvironment> m_scenario;
};

class MainFrameTest : public testing::Test {
 protected:
  void SetUp() override {
    // The update sequence runs behind the frame. Given a firmware file and no device it polls
    // without a word, so no box of its own takes the focus while keys are pressed.
    ASSERT_TRUE(m_folder.Enter(1024, QStringLiteral("nothing-connected.scenario"), "list 1\n"));

    m_application = std::make_unique<CFWUpdaterApp>(UniqueGuardName());
    ASSERT_TRUE(m_application->InitInstance());
    m_frame = m_application->mainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame));
    m_frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame));
  }

  // Keys pressed at frame level: nothing inside the form has the focus.
  void PressAtFrameLevel(QKeyCombination keys) {
    // A dialog that just closed may have left the frame inactive, and a request to activate
    // made while another window still holds the activation can be lost: it is made again
    // until it holds.
    bool active = false;
    for (int attempt = 0; attempt < 300 && !active; ++attempt) {
      m_frame->activateWindow();
      active = QTest::qWaitForWindowActive(m_frame, 100);
    }
    ASSERT_TRUE(active);
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    QTest::keyClick(m_frame, keys.key(), keys.keyboardModifiers());
  }

  // Accepts the next open dialog with path, from inside its own event loop. The dialog
  // takes the file only once it has read the file's folder, so the choice is retried.
  void AnswerOpenDialogWith(const QString& path) {
    auto* poll = new QTimer(m_frame);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, path, tries = 0]() mutable {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      m_openDialogTitle = dialog->windowTitle();
      // The dialog leaves the name field alone while the field has the keyboard focus.
      if (QWidget* focus = dialog->focusWidget()) focus->clearFocus();
      dialog->selectFile(path);
      if (!dialog->selectedFiles().contains(path)) {
        // Rather than hang, give up after a generous while; the test then fails.
        if (++tries > 3000) dialog->reject();
        return;
      }
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, which checks the choice
      poll->deleteLater();
    });
    poll->start(10);
  }

  void TearDown() override { m_application.reset(); }

  ScenarioWorkingFolder m_folder;
  BoxWatcher m_boxes;
  std::unique_ptr<CFWUpdaterApp> m_application;
  CMainFrame* m_frame = nullptr;
  static inline QString m_openDialogTitle;
};

TEST_F(MainFrameTest, FrameHasACloseBoxButCannotBeMinimisedMaximisedOrResized) {
  const Qt::WindowFlags flags = m_frame->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(m_frame->minimumSize(), m_frame->maximumSize());
  EXPECT_EQ(m_frame->size(), m_frame->minimumSize());

  const QSize before = m_frame->size();
  m_frame->resize(before + QSize(200, 150));
  m_frame->showMaximized();
  QCoreApplication::processEvents();
  EXPECT_EQ(m_frame->size(), before);
  EXPECT_FALSE(m_frame->windowIcon().isNull());
}

TEST_F(MainFrameTest, FrameIsShrunkToTheFormAndTheFormIsWhole) {
  CFWUpdaterView* view = m_frame->view();
  EXPECT_EQ(view->size(), view->formSize());
  EXPECT_EQ(m_frame->height(), view->formSize().height() + m_frame->menuBar()->height());

  // A new document lays the frame out again; it keeps its size.
  const QSize before = m_frame->size();
  PressAtFrameLevel(Qt::CTRL | Qt::Key_N);
  EXPECT_EQ(m_frame->size(), before);
  EXPECT_EQ(view->size(), view->formSize());
}

TEST_F(MainFrameTest, MenuBarHasExactlyTheFileAndHelpMenusWithOneItemEach) {
  const QList<QAction*> menus = m_frame->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("ファイル(&F)"));
  EXPECT_EQ(menus[1]->text(), QStringLiteral("ヘルプ(&H)"));
  ASSERT_NE(menus[0]->menu(), nullptr);
  ASSERT_NE(menus[1]->menu(), nullptr);
  const QList<QAction*> fileItems = menus[0]->menu()->actions();
  const QList<QAction*> helpItems = menus[1]->menu()->actions();
  ASSERT_EQ(fileItems.size(), 1);
  ASSERT_EQ(helpItems.size(), 1);
  EXPECT_EQ(fileItems[0]->text(), QStringLiteral("アプリケーションの終了(&X)"));
  EXPECT_EQ(helpItems[0]->text(), QStringLiteral("SCRIBOLANTE X FW Updaterについて(&A)..."));
  EXPECT_EQ(fileItems[0], m_frame->commandAction(ID_APP_EXIT));
  EXPECT_EQ(helpItems[0], m_frame->commandAction(ID_APP_ABOUT));
}

TEST_F(MainFrameTest, EveryAcceleratorKeyIsBoundToItsCommand) {
  const std::pair<QKeyCombination, CommandId> table[] = {
      {Qt::CTRL | Qt::Key_N, ID_FILE_NEW},         {Qt::CTRL | Qt::Key_O, ID_FILE_OPEN},
      {Qt::CTRL | Qt::Key_S, ID_FILE_SAVE},        {Qt::CTRL | Qt::Key_Z, ID_EDIT_UNDO},
      {Qt::CTRL | Qt::Key_X, ID_EDIT_CUT},         {Qt::CTRL | Qt::Key_C, ID_EDIT_COPY},
      {Qt::CTRL | Qt::Key_V, ID_EDIT_PASTE},       {Qt::ALT | Qt::Key_Backspace, ID_EDIT_UNDO},
      {Qt::SHIFT | Qt::Key_Delete, ID_EDIT_CUT},   {Qt::CTRL | Qt::Key_Insert, ID_EDIT_COPY},
      {Qt::SHIFT | Qt::Key_Insert, ID_EDIT_PASTE}, {QKeyCombination(Qt::Key_F6), ID_NEXT_PANE},
      {Qt::SHIFT | Qt::Key_F6, ID_PREV_PANE},
  };
  for (const auto& [keys, command] : table) {
    QAction* action = m_frame->commandAction(command);
    ASSERT_NE(action, nullptr) << command;
    EXPECT_TRUE(action->shortcuts().contains(QKeySequence(keys)))
        << QKeySequence(keys).toString().toStdString();
    EXPECT_TRUE(m_frame->actions().contains(action)) << command;
  }
}

TEST_F(MainFrameTest, EditAndPaneKeysReachTheFrameAndDoNothing) {
  QApplication::clipboard()->setText(QStringLiteral("clipboard before"));
  const QSize size = m_frame->size();
  const QWidgetList windowsBefore = QApplication::topLevelWidgets();
  int handled = 0;
  for (CommandId command :
       {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_NEXT_PANE, ID_PREV_PANE}) {
    QObject::connect(m_frame->commandAction(command), &QAction::triggered, m_frame,
                     [&handled] { ++handled; });
  }

  const QKeyCombination keys[] = {Qt::CTRL | Qt::Key_X, Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_V,
                                  Qt::CTRL | Qt::Key_Z, QKeyCombination(Qt::Key_F6)};
  for (QKeyCombination key : keys) PressAtFrameLevel(key);
  QCoreApplication::processEvents();

  // Each key was taken by the frame's accelerator table...
  EXPECT_EQ(handled, 5);
  // ...and had no effect.
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("clipboard before"));
  EXPECT_EQ(m_frame->windowTitle(), kTitle);
  EXPECT_EQ(m_frame->size(), size);
  EXPECT_TRUE(m_frame->isVisible());
  EXPECT_TRUE(m_application->document()->pathName().isEmpty());
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && qobject_cast<QMessageBox*>(window) == nullptr) {
      EXPECT_TRUE(windowsBefore.contains(window)) << window->metaObject()->className();
    }
  }
}

TEST_F(MainFrameTest, OpenKeepsTheTitleRecordsTheFileAndSaveNeverWritesIt) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("document.bin"));
  const QByteArray content("firmware-like bytes \x01\x02\xFF", 23);
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  struct stat before {};
  ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &before), 0);

  AnswerOpenDialogWith(path);
  PressAtFrameLevel(Qt::CTRL | Qt::Key_O);
  EXPECT_EQ(m_openDialogTitle, QStringLiteral("開く"));
  EXPECT_EQ(m_application->document()->pathName(), path);
  EXPECT_EQ(m_frame->windowTitle(), kTitle);
  EXPECT_TRUE(m_frame->windowFilePath().isEmpty());
  EXPECT_FALSE(m_frame->isWindowModified());
  ASSERT_FALSE(m_application->recentFiles().isEmpty());
  EXPECT_EQ(m_application->recentFiles().front(), path);
  EXPECT_EQ(AppSettings::LoadRecentFiles().front(), path);

  PressAtFrameLevel(Qt::CTRL | Qt::Key_S);
  m_application->OnFileSave();
  QCoreApplication::processEvents();

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), content);
  struct stat after {};
  ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_size, before.st_size);
  // Nothing was written beside it either (no backup or temporary file).
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("document.bin")});
  EXPECT_EQ(m_frame->windowTitle(), kTitle);

  // A new document forgets the file but not the recent list.
  PressAtFrameLevel(Qt::CTRL | Qt::Key_N);
  EXPECT_TRUE(m_application->document()->pathName().isEmpty());
  EXPECT_EQ(m_application->recentFiles().front(), path);
}

TEST_F(MainFrameTest, NewOpenAndSaveWriteNoFileAnywhere) {
  // The working folder, and a folder holding a firmware file that is opened and then saved,
  // with a hidden file and a subfolder a careless save could write to.
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString firmware = folder.filePath(QStringLiteral("SC5_Firmware_v1.3.bin"));
  for (const auto& [name, content] :
       {std::pair{firmware, QByteArray(32768, '\x5A')},
        std::pair{folder.filePath(QStringLiteral(".hidden")), QByteArray("kept")}}) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("sub")));
  const QString working = QDir::currentPath();
  const auto workingBefore = FolderSnapshot::Take(working.toStdString());
  const auto folderBefore = FolderSnapshot::Take(folder.path().toStdString());
  ASSERT_EQ(folderBefore.EntryCount(), 3u);

  auto expectUntouched = [&](const char* after) {
    QCoreApplication::processEvents();
    EXPECT_THAT(workingBefore.DifferencesTo(FolderSnapshot::Take(working.toStdString())),
                ::testing::IsEmpty())
        << after;
    EXPECT_THAT(folderBefore.DifferencesTo(FolderSnapshot::Take(folder.path().toStdString())),
                ::testing::IsEmpty())
        << after;
  };

  PressAtFrameLevel(Qt::CTRL | Qt::Key_S);
  expectUntouched("save of the untitled document");
  PressAtFrameLevel(Qt::CTRL | Qt::Key_N);
  expectUntouched("new");
  AnswerOpenDialogWith(firmware);
  PressAtFrameLevel(Qt::CTRL | Qt::Key_O);
  ASSERT_EQ(m_application->document()->pathName(), firmware);
  expectUntouched("open");
  PressAtFrameLevel(Qt::CTRL | Qt::Key_S);
  m_application->OnFileSave();
  expectUntouched("save of the opened file");
  PressAtFrameLevel(Qt::CTRL | Qt::Key_N);
  PressAtFrameLevel(Qt::CTRL | Qt::Key_S);
  expectUntouched("new, then save");
  EXPECT_TRUE(m_frame->isVisible());
}

// The sequence writing a slow device: a firmware file of 16 blocks and a device that takes
// half a second per block, the confirmation answered Yes, the close question as answers says.
class CloseWhileWritingTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_folder.Enter(16 * 32768, QStringLiteral("slow.scenario"),
                               "list 1 SCRIBOLANTE-X-1\nrate 65536\n"));
    m_guardName = UniqueGuardName();
    m_application = std::make_unique<CFWUpdaterApp>(m_guardName);
    ASSERT_TRUE(m_application->InitInstance());
    m_frame = m_application->mainFrame();
    ASSERT_TRUE(WaitUntil([&] { return m_frame->view()->UpdateBeingWritten(); }));
  }

  void TearDown() override { m_application.reset(); }

  int Position() const {
    return m_frame->view()->findChild<QProgressBar*>(QStringLiteral("progress1001"))->value();
  }

  ScenarioWorkingFolder m_folder;
  std::string m_guardName;
  std::vector<QMessageBox::StandardButton> m_answers;  // for the close question, in turn
  std::vector<bool> m_noWasDefault;
  bool m_terminateOnQuestion = false;
  BoxWatcher m_boxes{[this](QMessageBox& box) {
    if (box.text() == QString::fromUtf8(kCloseWhileWritingQuestion) && m_terminateOnQuestion) {
      m_application->OnTerminationRequested();
    } else if (box.text() == QString::fromUtf8(kCloseWhileWritingQuestion)) {
      QAbstractButton* no = box.button(QMessageBox::No);
      m_noWasDefault.push_back(box.defaultButton() == no && box.escapeButton() == no);
      const QMessageBox::StandardButton answer =
          m_answers.empty() ? QMessageBox::No : m_answers.front();
      if (!m_answers.empty()) m_answers.erase(m_answers.begin());
      box.button(answer)->click();
    } else if (QAbstractButton* yes = box.button(QMessageBox::Yes)) {
      yes->click();  // the confirmation
    } else {
      box.escapeButton()->click();
    }
  }};
  std::unique_ptr<CFWUpdaterApp> m_application;
  CMainFrame* m_frame = nullptr;
};

TEST_F(CloseWhileWritingTest, AsksFirstAndNoKeepsTheUpdateAndTheGuard) {
  m_answers = {QMessageBox::No, QMessageBox::No, QMessageBox::Yes};
  m_frame->close();  // the close box, or Alt+F4
  ASSERT_EQ(m_boxes.seen().size(), 2u);
  const SeenBox& question = m_boxes.seen().back();
  EXPECT_EQ(question.title, kTitle);
  EXPECT_EQ(
      question.text,
      QStringLiteral("SCRIBOLANTE X をUpdate中です。\n今終了すると SCRIBOLANTE X が起動できなく"
                     "なる可能性があります。\n終了しますか？"));
  EXPECT_EQ(question.buttons, (QStringList{QStringLiteral("はい"), QStringLiteral("いいえ")}));
  EXPECT_EQ(question.icon, QMessageBox::Warning);
  EXPECT_EQ(m_noWasDefault, std::vector<bool>{true});
  EXPECT_TRUE(m_frame->isVisible());
  // The worker goes on writing.
  const int position = Position();
  EXPECT_TRUE(WaitUntil([&] { return Position() > position; }));

  // Exit: a No leaves the guard held; a Yes releases it and closes.
  m_application->OnAppExit();
  EXPECT_TRUE(m_frame->isVisible());
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_guardName));
  m_application->OnAppExit();
  EXPECT_EQ(m_boxes.seen().size(), 4u);
  EXPECT_FALSE(m_frame->isVisible());
  EXPECT_FALSE(platform::IsConnectGuardHeld(m_guardName));
}

// After Yes the window goes at once, but the guard stays until the worker has left its
// transfer: a copy started meanwhile must not reach the device beside this one.
TEST_F(CloseWhileWritingTest, AfterYesTheGuardStaysUntilTheWorkerHasLeftTheDevice) {
  m_answers = {QMessageBox::Yes};
  UpdateController* const controller = UpdateController::current;
  ASSERT_NE(controller, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return controller->BlockWriteInFlight(); }));
  std::atomic<bool> closing{true};
  std::atomic<int> releasedWhileWriting{0};
  std::thread probe([&] {
    while (closing.load()) {
      // The guard first: once it is gone, no block write may be in flight any more.
      const bool held = platform::IsConnectGuardHeld(m_guardName);
      if (!held && controller->BlockWriteInFlight()) releasedWhileWriting.fetch_add(1);
    }
  });
  m_application->OnAppExit();
  closing.store(false);
  probe.join();
  EXPECT_FALSE(m_frame->isVisible());
  EXPECT_EQ(releasedWhileWriting.load(), 0);
  EXPECT_FALSE(platform::IsConnectGuardHeld(m_guardName));
}

TEST_F(CloseWhileWritingTest, ATerminationRequestClosesWithoutAsking) {
  m_application->OnTerminationRequested();
  EXPECT_FALSE(m_frame->isVisible());
  EXPECT_EQ(m_boxes.seen().size(), 1u) << "only the confirmation";
}

TEST_F(CloseWhileWritingTest, ATerminationRequestWhileAskingClosesAnyway) {
  m_terminateOnQuestion = true;
  m_frame->close();
  EXPECT_EQ(m_boxes.seen().size(), 2u);
  EXPECT_FALSE(m_frame->isVisible());
}

TEST(RecentFileListTest, KeepsFourEntriesMostRecentFirstWithoutRepeats) {
  QStringList list;
  for (const char* path : {"/a", "/b", "/c", "/d", "/e"}) {
    list = AppSettings::WithRecentFile(list, QString::fromUtf8(path));
  }
  EXPECT_EQ(list, (QStringList{"/e", "/d", "/c", "/b"}));
  list = AppSettings::WithRecentFile(list, QStringLiteral("/c"));
  EXPECT_EQ(list, (QStringList{"/c", "/e", "/d", "/b"}));

  AppSettings::SaveRecentFiles(list);
  EXPECT_EQ(AppSettings::LoadRecentFiles(), list);
}

TEST(EditPopupMenuTest, ApplicationRegistersTheEditMenuWithItsThreeItems) {
  CFWUpdaterApp application(UniqueGuardName());
  BoxWatcher boxes;
  ASSERT_TRUE(application.InitInstance());
  QMenu* menu = application.editPopupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->title(), QStringLiteral("編集"));
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), QStringLiteral("切り取り(&T)\tCtrl+X"));
  EXPECT_EQ(items[1]->text(), QStringLiteral("コピー(&C)\tCtrl+C"));
  EXPECT_EQ(items[2]->text(), QStringLiteral("貼り付け(&P)\tCtrl+V"));
  // Choosing an item does nothing: the clipboard and the window stay as they were.
  QApplication::clipboard()->setText(QStringLiteral("kept"));
  for (QAction* item : items) item->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("kept"));
  EXPECT_TRUE(application.mainFrame()->isVisible());
}

}  // namespace
