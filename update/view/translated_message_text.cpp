// Looking a box's text up among the installed translations, with or without its last line.
#include "update/view/translated_message_text.h"

#include <QCoreApplication>
#include <optional>

#include "update/message_text.h"

namespace {

// The translation of source, or nothing when there is none.
std::optional<QString> Translation(const std::string& source) {
  // Qt looks a text up only up to a NUL byte; no marked text has one.
  if (source.find('\0') != std::string::npos) return std::nullopt;
  const QString translated = QCoreApplication::translate(kMessageContext, source.c_str());
  if (translated == QString::fromStdString(source)) return std::nullopt;
  return translated;
}

}  // namespace

QString TranslatedMessageText(const std::string& text) {
  if (std::optional<QString> whole = Translation(text)) return *whole;
  const std::size_t lastBreak = text.rfind('\n');
  if (lastBreak != std::string::npos) {
    const QString lastLine = QString::fromStdString(text.substr(lastBreak + 1));
    // The marked text may end with the line break ("...\n" + address) or not (... + "\n" + name).
    if (std::optional<QString> head = Translation(text.substr(0, lastBreak + 1))) {
      return *head + lastLine;
    }
    if (std::optional<QString> head = Translation(text.substr(0, lastBreak))) {
      return *head + QLatin1Char('\n') + lastLine;
    }
  }
  return QString::fromStdString(text);
}
