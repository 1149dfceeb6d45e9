// The terminal's lines on standard error and its JSON Lines on standard output.
#include "update/terminal/terminal_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cinttypes>

#include "platform/hex_text.h"

namespace {

constexpr const char* kTimeLeftText = QT_TRANSLATE_NOOP("TerminalView", "残り約 %1");

QString Translate(const char* source) {
  return QCoreApplication::translate("TerminalView", source);
}

void Write(std::FILE* stream, const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  std::fflush(stream);
}

// Sizes in the unit the whole image reads best in: KiB below one MiB, MiB with one decimal above.
QString Amount(std::uint64_t bytes, std::uint64_t totalBytes) {
  if (totalBytes < 1024 * 1024) return QString::number(bytes / 1024);
  return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1);
}

}  // namespace

QString ProgressText(int percent, std::uint64_t bytes, std::uint64_t totalBytes,
                     std::optional<std::chrono::seconds> timeLeft) {
  const QString unit = totalBytes < 1024 * 1024 ? QStringLiteral("KiB") : QStringLiteral("MiB");
  QString text = QStringLiteral("%1 %  %2 / %3 %4")
                     .arg(percent, 3)
                     .arg(Amount(bytes, totalBytes), Amount(totalBytes, totalBytes), unit);
  if (timeLeft) {
    const long long seconds = timeLeft->count();
    const QString clock =
        QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    text += QStringLiteral("  ") + Translate(kTimeLeftText).arg(clock);
  }
  return text;
}

std::optional<std::chrono::seconds> TimeLeft(std::uint64_t bytes, std::uint64_t totalBytes,
                                             std::chrono::steady_clock::duration elapsed) {
  using std::chrono::duration;
  const double seconds = duration<double>(elapsed).count();
  if (bytes == 0 || seconds <= 0.0 || bytes > totalBytes) return std::nullopt;
  const double left =
      static_cast<double>(totalBytes - bytes) * seconds / static_cast<double>(bytes);
  return std::chrono::seconds(static_cast<long long>(left + 0.5));
}

TerminalReport::TerminalReport(bool json) : m_errorIsTerminal(::isatty(STDERR_FILENO) == 1) {
  if (!json) return;
  std::fflush(stdout);
  const int jsonDescriptor = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (jsonDescriptor >= 0) m_json = ::fdopen(jsonDescriptor, "w");
  if (m_json == nullptr) {
    // Without a descriptor of its own the stream stays on standard output as it is.
    if (jsonDescriptor >= 0) ::close(jsonDescriptor);
    m_json = stdout;
    return;
  }
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

TerminalReport::~TerminalReport() {
  CloseProgressLine();
  if (m_json != nullptr && m_json != stdout) std::fclose(m_json);
}

void TerminalReport::Message(const QString& text) {
  QString oneLine = text;
  oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
  Line(oneLine);
  Event("{\"event\":\"message\",\"text\":" + JsonString(oneLine.toStdString()) + "}");
}

void TerminalReport::Log(const std::string& line) {
  QString text = QString::fromStdString(line);
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  Line(QStringLiteral("[log] ") + text);
}

void TerminalReport::Notice(const QString& text, bool endLine) {
  CloseProgressLine();
  Write(stderr, (endLine ? text + QLatin1Char('\n') : text).toLocal8Bit());
}

void TerminalReport::File(const std::string& name, const std::string& version, std::uint64_t bytes,
                          std::uint16_t crc) {
  Event("{\"event\":\"file\",\"name\":" + JsonString(name) + ",\"version\":" + JsonString(version) +
        ",\"bytes\":" + std::to_string(bytes) +
        ",\"crc16\":" + JsonString(platform::UpperHex4(crc)) + "}");
}

void TerminalReport::Device(const std::string& version) {
  Event("{\"event\":\"device\",\"version\":" + JsonString(version) + "}");
}

void TerminalReport::StartProgress(std::uint64_t totalBytes) {
  CloseProgressLine();
  m_totalBytes = totalBytes;
  m_lastTenth = 0;
  m_progressStart = std::chrono::steady_clock::now();
}

void TerminalReport::Progress(int percent, std::uint64_t bytes) {
  if (json()) {
    Event("{\"event\":\"progress\",\"percent\":" + std::to_string(percent) +
          ",\"bytes\":" + std::to_string(bytes) + "}");
    return;
  }
  const QString text = ProgressText(
      percent, bytes, m_totalBytes,
      TimeLeft(bytes, m_totalBytes, std::chrono::steady_clock::now() - m_progressStart));
  if (m_errorIsTerminal) {
    // Carriage return and erase to the end of the line: the line is rewritten in place.
    Write(stderr, (QStringLiteral("\r\033[K") + text).toLocal8Bit());
    m_progressLineOpen = true;
    return;
  }
  if (percent / 10 <= m_lastTenth) return;
  m_lastTenth = percent / 10;
  Write(stderr, (text + QLatin1Char('\n')).toLocal8Bit());
}

void TerminalReport::End(const char* outcome, int status) {
  CloseProgressLine();
  Event(std::string("{\"event\":\"end\",\"outcome\":") + JsonString(outcome) +
        ",\"status\":" + std::to_string(status) + "}");
}

void TerminalReport::Event(const std::string& object) {
  if (m_json == nullptr) return;
  Write(m_json, QByteArray::fromStdString(object + "\n"));
}

void TerminalReport::Line(const QString& text) {
  CloseProgressLine();
  Write(stderr, (text + QLatin1Char('\n')).toLocal8Bit());
}

void TerminalReport::CloseProgressLine() {
  if (!m_progressLineOpen) return;
  m_progressLineOpen = false;
  Write(stderr, QByteArrayLiteral("\n"));
}
