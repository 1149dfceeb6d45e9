// Tells the desktop session (platform::DesktopSession) when the device is being written and
// how far the writing has come, so that the computer does not sleep mid-update and the dock
// shows the progress. The controller and the phases report; the application injects the session.
#pragma once

#include "platform/desktop_session.h"
#include "update/message_text.h"

// Why sleep is held off, as logind shows it to the user (translated where it is sent).
inline constexpr const char* kWritingInhibitReason =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X のファームウェアを更新しています");

// The session that hears of the writing, or null (nothing is told). Set by the application
// before the controller starts and cleared after it has stopped; main thread.
void SetDesktopSession(platform::DesktopSession* session);

// The user answered yes: a writing stretch begins (progress 0). Ignored while one is open.
void NoteWritingStarted();
// The bar's position (0..kProgressMaximum) while writing: passed on when its whole percent
// changes. Ignored outside a stretch.
void NoteWritingProgress(int position);
// The block writes and the checksum exchange have stopped (completed, failed, closed). Before
// the message that follows, so nothing is held while a box waits for the user. Idempotent.
void NoteWritingStopped();

// Each of these may run on the UI thread or on the worker, never two at once: the update's
// hand-overs (queue posts, timer re-arms) order them.
