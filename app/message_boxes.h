// The application shell's own message boxes and the presenter of ownerless boxes for the
// layers below it, both built like the view's boxes (MB_ box types, ID answers).
#pragma once

#include <string>

class QWidget;

// In a build with the test switches, the environment variable FWU_AUTO_ANSWER_BOXES=1 makes
// every box of the shell answer its default button at once, writing "[caption] text" to
// standard error instead of showing a window, so that no box of a test run waits for a person.
// Any other build always shows the box.
bool AutoAnswerBoxes();

// The default button's answer: Yes for a Yes/No box, otherwise OK.
int DefaultMessageBoxAnswer(unsigned type);

// A modal box on the UI thread; returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO).
// owner null: no owner window, modal to the whole application. caption null: the application
// title. type: MB_OK, MB_OKCANCEL or MB_YESNO with an optional icon (MB_ICONERROR,
// MB_ICONEXCLAMATION, ...).
int ShowMessageBoxWithType(QWidget* owner, const std::string& text, const char* caption,
                           unsigned type);

// The presenter handed to platform::SetOwnerlessMessageBox. On the UI thread it shows the box
// and returns the answer. On another thread it must not wait for the UI thread (which may be
// waiting for that very thread to end), so it queues the box to the UI thread and answers at
// once as a dismissed box would (DismissedAnswer: OK for an OK box, otherwise Cancel or No).
int PresentOwnerlessMessageBox(const std::string& text, const std::string& caption, unsigned type);
