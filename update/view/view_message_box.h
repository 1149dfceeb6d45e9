// The view's modal message boxes: MB_ box types and ID answers over QMessageBox, and
// RenameButtonsHook, which relabels the OK and Cancel buttons of one box as it appears.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

#include "update/message_text.h"
#include "update/view/translated_message_text.h"

class QEvent;
class QMessageBox;
class QWidget;

// Button labels, set explicitly so that they read in Japanese without Qt's translations, and
// translated in the context "MessageBox" like every other text.
inline constexpr const char* kOkButtonText = "OK";
inline constexpr const char* kCancelButtonText = QT_TRANSLATE_NOOP("MessageBox", "キャンセル");
inline constexpr const char* kYesButtonText = QT_TRANSLATE_NOOP("MessageBox", "はい");
inline constexpr const char* kNoButtonText = QT_TRANSLATE_NOOP("MessageBox", "いいえ");
// The relabelled OK button of the box that offers the support page.
inline constexpr const char* kGoButtonText = QT_TRANSLATE_NOOP("MessageBox", "移動");

// A box owned by owner, window-modal to owner's window, not yet shown, its text, caption and
// buttons in the user's language (TranslatedMessageText). caption null shows
// the application title, "" none. type: MB_OK, MB_OKCANCEL or MB_YESNO (anything else counts
// as MB_OK), with MB_ICONERROR or MB_ICONEXCLAMATION for a critical or warning icon. The
// default button is OK or Yes; Escape and the close box answer Cancel or No where there is
// one. The caller deletes the box (owner deletes it too if it goes first).
QMessageBox* CreateMessageBox(QWidget* owner, const std::string& text, const char* caption,
                              unsigned type);

// The answer code (update_view.h) for the button that closed the box (IDOK, IDCANCEL, IDYES, IDNO),
// or DismissedAnswer(type) when it was closed without a button.
int MessageBoxAnswer(const QMessageBox& box, unsigned type);

// Installed on one box just before it is shown: when the box is shown or activated, whichever
// comes first, its OK button reads "移動" and its Cancel button "キャンセル" (translated), and the
// hook removes itself, so no later box is touched. The answers stay IDOK and IDCANCEL. If the box
// never appears, the hook's destructor removes it.
class RenameButtonsHook : public QObject {
  Q_OBJECT

 public:
  explicit RenameButtonsHook(QMessageBox* box);
  ~RenameButtonsHook() override;

  // True until the hook has relabelled its box and removed itself.
  bool installed() const { return m_installed; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Remove();

  // Held as a plain QObject: the filter also sees the box's last events while it is being
  // destroyed, when it is no longer a QMessageBox.
  QPointer<QObject> m_box;
  bool m_installed = false;
};
