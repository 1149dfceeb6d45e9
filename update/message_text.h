// Marking the texts the user sees. They are written in Japanese; the translation tools
// (lupdate) collect every text marked QT_TRANSLATE_NOOP, and the layer that shows a text
// (update/view, app) translates it into the user's language. The sequence itself, its tests
// and the update history keep working with the Japanese texts.
#pragma once

// The translation context of the message boxes' texts and captions.
inline constexpr const char* kMessageContext = "Messages";

// Without Qt's headers, the marker Qt defines: the text itself. (The same definition as Qt's,
// so either may come first.)
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif
