// Message boxes with MB_ types and ID answers over QMessageBox, and the hook that relabels
// OK and Cancel.
#include "update/view/view_message_box.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QWindow>
#include <optional>

#include "update/update_view.h"

namespace {

// Icon bits beyond the two the sequence uses are understood too, with the values of
// update_view.h's type bits.
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconInformation = 0x40;

QMessageBox::Icon IconFor(unsigned type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      return QMessageBox::Critical;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

void Label(QMessageBox& box, QMessageBox::StandardButton which, const char* text) {
  if (QAbstractButton* button = box.button(which)) {
    button->setText(QCoreApplication::translate("MessageBox", text));
  }
}

}  // namespace

QMessageBox* CreateMessageBox(QWidget* owner, const std::string& text, const char* caption,
                              unsigned type) {
  auto* box = new QMessageBox(owner);
  box->setWindowModality(Qt::WindowModal);
  box->setWindowTitle(TranslatedMessageText(caption ? caption : kApplicationTitle));
  if (caption && *caption == '\0') {
    // Given a window without a title, Qt on X11 shows the application's name instead; a lone
    // space in the title bar keeps it blank, which is what an empty caption asks for.
    box->winId();
    if (QWindow* window = box->windowHandle()) window->setTitle(QStringLiteral(" "));
  }
  box->setText(TranslatedMessageText(text));
  box->setTextFormat(Qt::PlainText);
  box->setIcon(IconFor(type));
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box->setDefaultButton(QMessageBox::Ok);
      box->setEscapeButton(QMessageBox::Cancel);
      break;
    case MB_YESNO:
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box->setDefaultButton(QMessageBox::Yes);
      box->setEscapeButton(QMessageBox::No);
      break;
    default:
      box->setStandardButtons(QMessageBox::Ok);
      box->setDefaultButton(QMessageBox::Ok);
      box->setEscapeButton(QMessageBox::Ok);
      break;
  }
  Label(*box, QMessageBox::Ok, kOkButtonText);
  Label(*box, QMessageBox::Cancel, kCancelButtonText);
  Label(*box, QMessageBox::Yes, kYesButtonText);
  Label(*box, QMessageBox::No, kNoButtonText);
  return box;
}

int MessageBoxAnswer(const QMessageBox& box, unsigned type) {
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return DismissedAnswer(type);
  }
}

RenameButtonsHook::RenameButtonsHook(QMessageBox* box) : m_box(box) {
  if (box) {
    box->installEventFilter(this);
    m_installed = true;
  }
}

RenameButtonsHook::~RenameButtonsHook() {
  Remove();
}

bool RenameButtonsHook::eventFilter(QObject* watched, QEvent* event) {
  if (!m_installed || watched != m_box) return false;
  if (event->type() != QEvent::Show && event->type() != QEvent::WindowActivate) return false;
  if (auto* box = qobject_cast<QMessageBox*>(watched)) {
    Label(*box, QMessageBox::Ok, kGoButtonText);
    Label(*box, QMessageBox::Cancel, kCancelButtonText);
  }
  Remove();
  return false;  // the box handles every event as usual
}

void RenameButtonsHook::Remove() {
  if (!m_installed) return;
  m_installed = false;
  if (m_box) m_box->removeEventFilter(this);
}
