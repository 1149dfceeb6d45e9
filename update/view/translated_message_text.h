// A message box's text in the user's language, for every view that shows the sequence's
// messages (the window's boxes, the terminal's lines). Needs only Qt Core.
#pragma once

#include <QString>
#include <string>

// A box's text or caption in the user's language (kMessageContext), from the translators
// installed on the application. A text made of a marked text and a last line of its own (a
// file name, an address) is translated without that line, which is kept as it is. A text
// without a translation is answered as it is.
QString TranslatedMessageText(const std::string& text);
