// The program's only top-level window: a small fixed frame with a title bar, a close box, a
// menu bar with the File and Help menus, the accelerator table, and the form view filling the
// rest.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <map>

#include "app/command_ids.h"
#include "update/message_text.h"

class QAction;
class QMenu;
class QMessageBox;
class CFWUpdaterView;

// Asked before the window closes while the device is being written.
inline constexpr const char* kCloseWhileWritingQuestion =
    QT_TRANSLATE_NOOP("Messages",
                      "SCRIBOLANTE X をUpdate中です。\n"
                      "今終了すると SCRIBOLANTE X が起動できなくなる可能性があります。\n"
                      "終了しますか？");

// UI thread only. The frame owns the view; the application owns the frame.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Creates the form view in the client area, which starts the update sequence, then the menu
  // bar and the accelerators. False when the view could not start (it has then shown its own
  // message); the frame must not be shown then.
  bool Create();

  // After the view's initial update: shrinks the frame to fit the form, never growing it, and
  // fixes the size so the user cannot change it. Later calls change nothing.
  void ShrinkToFitForm();

  // Moves the window to where it was last closed, if that place is still on a screen.
  void RestoreWindowPosition();

  // The action of a command: the two menu items, and one action per accelerator command that
  // carries all its keys. Commands nobody handles stay unconnected, so their keys do nothing.
  // Null for a command the frame does not know.
  QAction* commandAction(CommandId command) const;

  // While the device is being written (phases 4 and 5), asks whether to close anyway: a
  // Yes/No box with a warning icon whose default answer is No. True when the window may close
  // (nothing is being written, the answer was Yes, a CloseWithoutAsking came meanwhile, or the
  // sequence made its end while the question was open). The update goes on while it asks.
  bool ConfirmClose();
  // Closes without the question (a termination request); a question already open is taken
  // as answered Yes.
  void CloseWithoutAsking();

  CFWUpdaterView* view() const { return m_view; }
  QMenu* fileMenu() const { return m_fileMenu; }
  QMenu* helpMenu() const { return m_helpMenu; }

 protected:
  // Keeps the window out of the maximised and full-screen states.
  void changeEvent(QEvent* event) override;
  // Asks first while the device is being written (ConfirmClose; No keeps the window). Then
  // saves where the window stands, hides the window and lets the view stop its worker; if the
  // worker is stuck in a vendor call, emits workerStuckOnClose before accepting.
  void closeEvent(QCloseEvent* event) override;

 signals:
  // The window has closed but the update's worker did not end (see CFWUpdaterView::BeginClose):
  // the process must end without destroying the view.
  void workerStuckOnClose();

 private:
  void CreateMenuBar();
  void CreateAccelerators();
  QAction* AddCommand(CommandId command, const QString& text);

  CFWUpdaterView* m_view = nullptr;
  QMenu* m_fileMenu = nullptr;
  QMenu* m_helpMenu = nullptr;
  std::map<CommandId, QAction*> m_commands;
  bool m_sizeFixed = false;
  bool m_closeWithoutAsking = false;
  QPointer<QMessageBox> m_closeQuestion;  // open while ConfirmClose asks
};
