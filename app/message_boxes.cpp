// The shell's message boxes over the view's box builder, with an unattended mode in builds with
// the test switches.
#include "app/message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <memory>

#include "app/program_icon.h"
#include "platform/test_switches.h"
#include "update/update_view.h"
#include "update/view/view_message_box.h"

bool AutoAnswerBoxes() {
  return platform::test_switches::AutoAnswerAppBoxes();
}

int DefaultMessageBoxAnswer(unsigned type) {
  return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

int ShowMessageBoxWithType(QWidget* owner, const std::string& text, const char* caption,
                           unsigned type) {
  if (AutoAnswerBoxes()) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : kApplicationTitle, text.c_str());
    std::fflush(stderr);
    return DefaultMessageBoxAnswer(type);
  }
  const std::unique_ptr<QMessageBox> box(CreateMessageBox(owner, text, caption, type));
  if (owner == nullptr) box->setWindowModality(Qt::ApplicationModal);
  box->setWindowIcon(ProgramIcon());
  box->exec();
  return MessageBoxAnswer(*box, type);
}

int PresentOwnerlessMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return DismissedAnswer(type);
  }
  if (QThread::currentThread() == application->thread()) {
    return ShowMessageBoxWithType(nullptr, text, caption.c_str(), type);
  }
  QMetaObject::invokeMethod(
      application,
      [text, caption, type] { ShowMessageBoxWithType(nullptr, text, caption.c_str(), type); },
      Qt::QueuedConnection);
  return DismissedAnswer(type);
}
