// Start-up in the order the single-instance rule needs: the guard before any window, then the
// framework services, then the document, frame and view, then the shown window.
#include "app/fwu_updater_app.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <cstdio>
#include <cstdlib>

#include "app/about_dialog.h"
#include "app/accessible_application.h"
#include "app/app_settings.h"
#include "app/command_line.h"
#include "app/edit_popup_menu.h"
#include "app/fwu_updater_doc.h"
#include "app/main_frame.h"
#include "app/message_boxes.h"
#include "app/program_icon.h"
#include "platform/message_box.h"
#include "platform/url_opener.h"
#include "update/connection_checks.h"
#include "update/program_ending.h"
#include "update/update_view.h"
#include "update/view/fw_updater_view.h"

namespace {

constexpr const char* kOpenDialogCaption = QT_TRANSLATE_NOOP("CFWUpdaterApp", "開く");
constexpr const char* kAllFilesFilter = QT_TRANSLATE_NOOP("CFWUpdaterApp", "すべてのファイル (*)");

// The support page of the normal-mode message opens in the desktop's browser.
platform::DesktopUrlOpener desktopUrlOpener;

}  // namespace

CFWUpdaterApp::CFWUpdaterApp(std::string guardName)
    : m_guardName(guardName.empty() ? platform::ConnectGuardNameFromEnvironment()
                                    : std::move(guardName)) {
  // The identity under which the desktop groups the program's windows and finds its
  // FWUpdater.AppID.NoVersion.desktop file: the Wayland app id comes from the desktop file
  // name, the X11 window class from the application name. The settings name their
  // organisation and application themselves (AppSettings).
  QGuiApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));
  QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationId));
  // A screen reader announces the product's name; the titles stay as they are.
  InstallAccessibleApplicationName(QString::fromUtf8(kApplicationTitle));
  QCoreApplication::setApplicationVersion(QStringLiteral(FWU_PROJECT_VERSION));
  QApplication::setWindowIcon(ProgramIcon());
  platform::SetOwnerlessMessageBox(&PresentOwnerlessMessageBox);
  SetUrlOpener(&desktopUrlOpener);
}

CFWUpdaterApp::~CFWUpdaterApp() {
  // The view goes first, so the worker is stopped before anything it might use.
  m_mainFrame.reset();
  m_document.reset();
  m_editMenu.reset();
  platform::SetOwnerlessMessageBox(nullptr);
  SetUrlOpener(nullptr);
  // The worker has been joined with the view. Process exit would drop the guard anyway;
  // ending here keeps a test process that starts several applications from piling up held
  // names.
  if (g_hConnectGuard != platform::kNoConnectGuard && g_hConnectGuard == m_guard) EndProgram();
}

bool CFWUpdaterApp::InitInstance() {
  // The guard before anything else: a refused start must not have shown a window.
  const platform::ConnectGuardStatus guard = TakeConnectGuard(m_guardName);
  m_guard = g_hConnectGuard;
  if (guard == platform::ConnectGuardStatus::kHeldElsewhere) {
    m_refusedByGuard = true;
    ShowMessageBoxWithType(nullptr, kMultipleStartMessage, kMultipleStartCaption,
                           MB_OK | MB_ICONERROR);
    return false;
  }
  // The trace is this copy's from here on.
  StartRequestedRecording();

  // The per-user settings with their recent-file list, then the edit popup menu.
  m_recentFiles = AppSettings::LoadRecentFiles();
  PreLoadState();

  // The single document, its frame and the form view in it. The command line carries no
  // options of the program's own; Qt has taken its own.
  m_document = std::make_unique<CFWUpdaterDoc>();
  m_mainFrame = std::make_unique<CMainFrame>();
  if (!m_mainFrame->Create()) return false;
  m_mainFrame->view()->SetContextMenu(m_editMenu.get());
  ConnectCommands();
  if (!m_document->OnNewDocument()) return false;
  InitialUpdateFrame();

  // Shown where it was last closed, in front.
  m_mainFrame->RestoreWindowPosition();
  m_mainFrame->show();
  m_mainFrame->raise();
  m_mainFrame->activateWindow();
  return true;
}

int CFWUpdaterApp::Run() {
  if (InitInstance()) {
    QApplication::exec();
  } else if (m_refusedByGuard) {
    return EndStartRefusedByGuard();
  }
  // However the window went (the sequence's end, the close box, Exit, a signal), only a
  // confirmed update ends with success.
  return EndAfterClose();
}

int CFWUpdaterApp::EndAfterClose() {
  // Closing has stopped the worker already, unless the event loop ended some other way.
  CFWUpdaterView* view = m_mainFrame != nullptr ? m_mainFrame->view() : nullptr;
  if (view != nullptr && !view->BeginClose()) EndProcessLeavingStuckWorker();
  return EndProgram();
}

void CFWUpdaterApp::EndProcessLeavingStuckWorker() {
  std::fprintf(stderr, "FWUpdater: the device did not answer; ending without waiting for it\n");
  std::fflush(nullptr);
  EndProgramNow();
}

void CFWUpdaterApp::PreLoadState() {
  m_editMenu = CreateEditPopupMenu();
}

void CFWUpdaterApp::ConnectCommands() {
  CMainFrame* frame = m_mainFrame.get();
  connect(frame->commandAction(ID_APP_ABOUT), &QAction::triggered, this,
          &CFWUpdaterApp::OnAppAbout);
  connect(frame->commandAction(ID_FILE_NEW), &QAction::triggered, this, &CFWUpdaterApp::OnFileNew);
  connect(frame->commandAction(ID_FILE_OPEN), &QAction::triggered, this,
          &CFWUpdaterApp::OnFileOpen);
  connect(frame->commandAction(ID_FILE_SAVE), &QAction::triggered, this,
          &CFWUpdaterApp::OnFileSave);
  connect(frame->commandAction(ID_APP_EXIT), &QAction::triggered, this, &CFWUpdaterApp::OnAppExit);
  connect(frame, &CMainFrame::workerStuckOnClose, this,
          &CFWUpdaterApp::EndProcessLeavingStuckWorker);
}

void CFWUpdaterApp::InitialUpdateFrame() {
  m_mainFrame->view()->OnInitialUpdate();
  m_mainFrame->ShrinkToFitForm();
}

void CFWUpdaterApp::OnAppAbout() {
  CAboutDlg dialog(m_mainFrame.get());
  dialog.exec();
}

void CFWUpdaterApp::OnFileNew() {
  if (m_document == nullptr || !m_document->OnNewDocument()) return;
  InitialUpdateFrame();
}

void CFWUpdaterApp::OnFileOpen() {
  if (m_document == nullptr) return;
  QFileDialog dialog(m_mainFrame.get(), tr(kOpenDialogCaption));
  dialog.setObjectName(QStringLiteral("openFileDialog"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(tr(kAllFilesFilter));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;

  const QString path = dialog.selectedFiles().constFirst();
  if (!m_document->OnOpenDocument(path)) return;
  m_recentFiles = AppSettings::WithRecentFile(m_recentFiles, path);
  AppSettings::SaveRecentFiles(m_recentFiles);
  InitialUpdateFrame();
}

void CFWUpdaterApp::OnFileSave() {
  if (m_document != nullptr) m_document->OnSaveDocument();
}

void CFWUpdaterApp::OnTerminationRequested() {
  if (m_mainFrame == nullptr) {
    // Start-up has not made the frame: the one thing open can be the multiple-start box.
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
    return;
  }
  // A hidden frame has closed already; a second request must not run its teardown again.
  if (m_mainFrame->isVisible()) m_mainFrame->CloseWithoutAsking();
  // A box without an owner window (the library warning) would keep the program running after
  // its window has gone; quitting closes it and leaves every event loop.
  QCoreApplication::quit();
}

void CFWUpdaterApp::OnAppExit() {
  // The question comes before the guard is touched: a No leaves everything as it was.
  if (m_mainFrame != nullptr && !m_mainFrame->ConfirmClose()) return;
  if (m_mainFrame != nullptr) m_mainFrame->CloseWithoutAsking();
  // The guard is dropped only once the worker has left the vendor library: until then a second
  // copy must not open the device beside this one. A worker stuck there has ended the process
  // during the close, with the guard still held.
  EndAfterClose();
}
