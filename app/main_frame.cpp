// The main frame: fixed window flags and size, the two menus and the accelerator table.
#include "app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

#include "app/app_settings.h"
#include "app/program_icon.h"
#include "update/update_view.h"
#include "update/view/fw_updater_view.h"
#include "update/view/view_message_box.h"

namespace {

constexpr const char* kFileMenuTitle = QT_TRANSLATE_NOOP("CMainFrame", "ファイル(&F)");
constexpr const char* kExitItem = QT_TRANSLATE_NOOP("CMainFrame", "アプリケーションの終了(&X)");
constexpr const char* kHelpMenuTitle = QT_TRANSLATE_NOOP("CMainFrame", "ヘルプ(&H)");
constexpr const char* kAboutItem =
    QT_TRANSLATE_NOOP("CMainFrame", "SCRIBOLANTE X FW Updaterについて(&A)...");

// A title bar with the system menu and a close box; no minimize or maximize box and, with
// the fixed size, no sizing border.
constexpr Qt::WindowFlags kFrameFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                        Qt::MSWindowsFixedSizeDialogHint;

struct Accelerator {
  CommandId command;
  QKeyCombination keys;
};

// The accelerator table; the Edit menu lists its shortcuts in this order too.
const Accelerator kAccelerators[] = {
    {ID_FILE_NEW, Qt::CTRL | Qt::Key_N},         {ID_FILE_OPEN, Qt::CTRL | Qt::Key_O},
    {ID_FILE_SAVE, Qt::CTRL | Qt::Key_S},        {ID_EDIT_UNDO, Qt::CTRL | Qt::Key_Z},
    {ID_EDIT_CUT, Qt::CTRL | Qt::Key_X},         {ID_EDIT_COPY, Qt::CTRL | Qt::Key_C},
    {ID_EDIT_PASTE, Qt::CTRL | Qt::Key_V},       {ID_EDIT_UNDO, Qt::ALT | Qt::Key_Backspace},
    {ID_EDIT_CUT, Qt::SHIFT | Qt::Key_Delete},   {ID_EDIT_COPY, Qt::CTRL | Qt::Key_Insert},
    {ID_EDIT_PASTE, Qt::SHIFT | Qt::Key_Insert}, {ID_NEXT_PANE, QKeyCombination(Qt::Key_F6)},
    {ID_PREV_PANE, Qt::SHIFT | Qt::Key_F6},
};

// On Wayland the compositor places every window: a window cannot learn where it is, and a
// position it asks for is ignored. The last position is then neither saved nor restored, so
// a meaningless one never reaches the settings another session (X11) would use.
bool WindowsArePlacedByTheProgram() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent, kFrameFlags) {
  setObjectName(QStringLiteral("mainFrame128"));
  // The title is the application title alone: no document name and no modified mark.
  setWindowTitle(QString::fromUtf8(kApplicationTitle));
  setWindowIcon(ProgramIcon());
  setContextMenuPolicy(Qt::NoContextMenu);  // no toolbar menu of the main window
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create() {
  // The view first: its creation starts the update sequence, as the framework's frame creation
  // makes the view before the frame adds its menu bar.
  m_view = new CFWUpdaterView(this);
  setCentralWidget(m_view);
  if (!m_view->OnCreate()) return false;

  CreateMenuBar();
  CreateAccelerators();
  // The size the framework would give the window before the view's initial update shrinks it:
  // at least room for the whole form.
  const QSize form = m_view->formSize();
  resize(
      sizeHint().expandedTo(QSize(form.width(), form.height() + menuBar()->sizeHint().height())));
  return true;
}

void CMainFrame::CreateMenuBar() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("menuBar59398"));
  bar->setNativeMenuBar(false);

  m_fileMenu = bar->addMenu(tr(kFileMenuTitle));
  m_fileMenu->setObjectName(QStringLiteral("fileMenu"));
  m_fileMenu->addAction(AddCommand(ID_APP_EXIT, tr(kExitItem)));

  m_helpMenu = bar->addMenu(tr(kHelpMenuTitle));
  m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
  m_helpMenu->addAction(AddCommand(ID_APP_ABOUT, tr(kAboutItem)));
}

void CMainFrame::CreateAccelerators() {
  for (const Accelerator& accelerator : kAccelerators) {
    QAction* action = commandAction(accelerator.command);
    if (action == nullptr) {
      action = AddCommand(accelerator.command, QString());
      addAction(action);
    }
    QList<QKeySequence> keys = action->shortcuts();
    keys.append(QKeySequence(accelerator.keys));
    action->setShortcuts(keys);
  }
}

QAction* CMainFrame::AddCommand(CommandId command, const QString& text) {
  auto* action = new QAction(text, this);
  action->setObjectName(QStringLiteral("command%1").arg(static_cast<int>(command)));
  action->setData(static_cast<int>(command));
  action->setShortcutContext(Qt::WindowShortcut);
  action->setMenuRole(QAction::NoRole);
  m_commands[command] = action;
  return action;
}

QAction* CMainFrame::commandAction(CommandId command) const {
  const auto found = m_commands.find(command);
  return found == m_commands.end() ? nullptr : found->second;
}

void CMainFrame::ShrinkToFitForm() {
  if (m_view == nullptr || m_sizeFixed) return;
  layout()->activate();
  // Shrink only: each side of the client area keeps its size when it is already no larger
  // than the form.
  const QSize client = m_view->size();
  const QSize target = client.boundedTo(m_view->formSize());
  const QSize frame = size() - client + target;
  resize(frame);
  setFixedSize(frame);
  m_sizeFixed = true;
}

void CMainFrame::RestoreWindowPosition() {
  if (!WindowsArePlacedByTheProgram()) return;
  const std::optional<QPoint> position = AppSettings::LoadWindowPosition();
  // A position on a screen that is gone (a monitor unplugged since) is not restored.
  if (!position || QGuiApplication::screenAt(*position) == nullptr) return;
  move(*position);
}

void CMainFrame::changeEvent(QEvent* event) {
  // A window manager or platform that maximises or fills the screen regardless of the fixed
  // size is turned back: the frame only ever has the form's size.
  if (event->type() == QEvent::WindowStateChange &&
      (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
  }
  QMainWindow::changeEvent(event);
}

bool CMainFrame::ConfirmClose() {
  if (m_closeWithoutAsking || m_view == nullptr || !m_view->UpdateBeingWritten()) return true;
  if (m_closeQuestion) return false;  // already asking
  const QPointer<QMessageBox> box =
      CreateMessageBox(this, kCloseWhileWritingQuestion, nullptr, MB_YESNO | MB_ICONEXCLAMATION);
  // Enter and Escape both keep the update going.
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  m_closeQuestion = box;
  // The worker keeps writing and the sequence keeps running while the box is open.
  box->exec();
  const int answer = box ? MessageBoxAnswer(*box, MB_YESNO) : IDNO;
  delete box.data();
  // The sequence's own close, made while the question was open, could not take effect (this
  // window was already closing): it still ends the program.
  return answer == IDYES || m_closeWithoutAsking || m_view->SequenceEnded();
}

void CMainFrame::CloseWithoutAsking() {
  m_closeWithoutAsking = true;
  // The close that is asking goes ahead once the box is gone.
  if (m_closeQuestion) {
    m_closeQuestion->reject();
    return;
  }
  close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!ConfirmClose()) {
    event->ignore();
    return;
  }
  if (isVisible() && WindowsArePlacedByTheProgram()) AppSettings::SaveWindowPosition(pos());
  // The window goes at once, however long the worker takes to leave.
  hide();
  const bool workerStopped = m_view == nullptr || m_view->BeginClose();
  event->accept();
  if (!workerStopped) emit workerStuckOnClose();
}
