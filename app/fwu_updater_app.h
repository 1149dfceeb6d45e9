// The application object: start-up with the single-instance connection guard, the single
// document with its frame and view, and the commands About, New, Open, Save and Exit.
#pragma once

#include <QObject>
#include <QStringList>
#include <memory>
#include <string>

#include "platform/connect_guard.h"
#include "update/message_text.h"
#include "update/program_ending.h"  // g_hConnectGuard, the multiple-start message, the ending

class QMenu;
class CFWUpdaterDoc;
class CMainFrame;

inline constexpr const char* kApplicationId = "FWUpdater.AppID.NoVersion";

// Lives on the main (UI) thread; a QApplication must exist before it is constructed and
// outlive it. One at a time per process.
class CFWUpdaterApp : public QObject {
  Q_OBJECT

 public:
  // Sets the application identity and installs the Qt presenter for ownerless message boxes.
  // guardName: the connection guard's name; empty: ConnectGuardNameFromEnvironment().
  explicit CFWUpdaterApp(std::string guardName = {});
  // Closes the frame and view (stopping the update's worker) and then drops the guard it took.
  ~CFWUpdaterApp() override;

  CFWUpdaterApp(const CFWUpdaterApp&) = delete;
  CFWUpdaterApp& operator=(const CFWUpdaterApp&) = delete;

  // Start-up: the guard first (a held name shows the multiple-start message with no window
  // and answers false), then the settings, the edit popup menu, the document, the frame with
  // its view (which starts the update), the view's initial update, and the shown window.
  // False means the program must end.
  bool InitInstance();

  // InitInstance and then the event loop; the process's exit status: kExitUpdateCompleted
  // only when the device confirmed the update, kExitAnotherCopy when another copy holds the
  // guard, kExitNoUpdate otherwise (update/program_ending.h). The end is EndProgram's, once the
  // view has stopped its worker.
  int Run();

  // The window has closed while the update's worker is stuck in a vendor call that may never
  // return. Destroying the view, the agent or the loaded library would pull them from under
  // that thread, and waiting for it could last for ever: after flushing standard output and
  // error, the process ends through EndProgramNow (the attempt's line, the status of any
  // close, the guard held until the process has gone), without running destructors.
  [[noreturn]] void EndProcessLeavingStuckWorker();

  // The command handlers.
  void OnAppAbout();  // the modal about box; the update goes on behind it
  void OnFileNew();   // a new empty document; the view's initial update runs again
  void OnFileOpen();  // the open dialog; the chosen file is recorded, never read
  void OnFileSave();  // nothing to store: no file is touched
  void OnAppExit();   // asks first while the device is being written (a No changes nothing),
                      // then closes the main window, and drops the guard once its view has
                      // stopped the worker (EndProgram)

  // A request from outside to end the program (a termination signal): closes the main window
  // as its close box does but without asking, even while the device is being written (the
  // view dismisses its box and stops the worker), dismisses any box left without an owner
  // window, and ends the event loop (Run then answers the update's outcome). Later requests
  // change nothing. Before the frame exists, only an open box is closed.
  void OnTerminationRequested();

  CMainFrame* mainFrame() const { return m_mainFrame.get(); }
  CFWUpdaterDoc* document() const { return m_document.get(); }
  QMenu* editPopupMenu() const { return m_editMenu.get(); }
  const QStringList& recentFiles() const { return m_recentFiles; }

 private:
  // The framework's hook before saved state is loaded: registers the edit popup menu.
  void PreLoadState();
  void ConnectCommands();
  // New or opened document: the view's initial update, then the frame's fit.
  void InitialUpdateFrame();
  // The window has gone, or start-up failed: the view stops its worker (a worker stuck in the
  // vendor library ends the process here), then EndProgram; its exit status.
  int EndAfterClose();

  std::string m_guardName;
  // The guard this object took, to tell it from one a later application object took.
  platform::ConnectGuardHandle m_guard = platform::kNoConnectGuard;
  bool m_refusedByGuard = false;  // InitInstance failed because another copy holds the guard
  QStringList m_recentFiles;
  std::unique_ptr<QMenu> m_editMenu;
  std::unique_ptr<CFWUpdaterDoc> m_document;
  std::unique_ptr<CMainFrame> m_mainFrame;
};
