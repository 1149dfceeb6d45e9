// Message boxes without an owner window, for layers below the user interface (the vendor
// library loader). The application installs a Qt presenter; tests install a recording one.
#pragma once

#include <string>

#include "platform/message_box_types.h"

namespace platform {

// Shows a modal box with text, caption and an MB_ type (button and icon bits) and
// returns the button pressed (IDOK and so on). Runs on the calling thread.
using OwnerlessMessageBoxFunction = int (*)(const std::string& text, const std::string& caption,
                                            unsigned type);

// Installs the presenter; null restores the default, which writes the text to standard error
// and answers IDOK.
void SetOwnerlessMessageBox(OwnerlessMessageBoxFunction presenter);

int ShowOwnerlessMessageBox(const std::string& text, const std::string& caption, unsigned type);

}  // namespace platform
