// The terminal view: the sequence's view operations as lines, events and answers, handed over
// to the UI thread as the window's are, and the end of the run where the window would start over.
#include "update/terminal/terminal_view.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <optional>

#include "update/firmware_image.h"
#include "update/program_ending.h"
#include "update/update_state.h"
#include "update/view/translated_message_text.h"

namespace {

// The version fields' labels, as the window's form names them.
constexpr const char* kCurrentVersionLabel =
    QT_TRANSLATE_NOOP("CFWUpdaterView", "現在のバージョン");
constexpr const char* kTargetVersionLabel =
    QT_TRANSLATE_NOOP("CFWUpdaterView", "アップデートするバージョン");
constexpr const char* kYesText = QT_TRANSLATE_NOOP("MessageBox", "はい");

constexpr const char* kAnsweredByOptionNote =
    QT_TRANSLATE_NOOP("TerminalView", "--yes により「はい」と答えました。");
constexpr const char* kNoTerminalNote = QT_TRANSLATE_NOOP(
    "TerminalView",
    "確認に答える端末がないため、アップデートしません (--yes で「はい」と答えます)。");
constexpr const char* kYesNoPrompt = QT_TRANSLATE_NOOP("TerminalView", "[y/N] ");
constexpr const char* kWritingNotice = QT_TRANSLATE_NOOP(
    "TerminalView",
    "ファームウェアを書き込み中です。中断すると本体のファームウェアが不完全なまま残ります。"
    "それでも中断するには、もう一度 Ctrl+C を押してください。");

QString Translate(const char* context, const char* source) {
  return QCoreApplication::translate(context, source);
}

// The restart's re-arm is told from the others by its phase and delay: the sequence re-arms
// phase 0 only there, and the first step's delay differs.
static_assert(kRestartDelayMs != kFirstStepDelayMs);

// What the view reports of the loaded image, read where the sequence's state may be read.
struct LoadedImage {
  std::string name;
  std::uint64_t fileLength = 0;
  std::uint16_t crc = 0;
  std::uint64_t size = 0;
};

bool IsYes(const std::string& line) {
  QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
  return answer == QLatin1String("y") || answer == QLatin1String("yes") ||
         answer == QString::fromUtf8(kYesText) ||
         answer == Translate("MessageBox", kYesText).toLower();
}

}  // namespace

TerminalView::TerminalView(const TerminalOptions& options, TerminalReport& report)
    : m_options(options), m_report(report), m_controller(*this) {
  m_stepTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_stepTimer, &QTimer::timeout, this, [this] { m_controller.OnTimer(STEP_TIMER_ID); });
}

TerminalView::~TerminalView() {
  BeginClose();
}

bool TerminalView::OnCreate() {
  return m_controller.OnCreate();
}

bool TerminalView::BeginClose() {
  if (m_closing) return m_workerStopped;
  m_closing = true;
  m_stepTimer.stop();
  // From here on the worker gets its answers at once, so waiting for it cannot wait on this
  // thread; a question being asked ends unanswered.
  m_relay.Close();
  if (m_questionLoop) m_questionLoop->quit();
  m_workerStopped = m_controller.ShutdownWithin(kWorkerStopLimit);
  return m_workerStopped;
}

void TerminalView::OnTerminationRequested() {
  if (m_closing) return;
  // Cutting the writes off leaves the device half-written: the first request only says so.
  if (m_controller.UpdateBeingWritten() && ++m_requestsWhileWriting == 1) {
    m_report.Notice(Translate("TerminalView", kWritingNotice));
    return;
  }
  m_endedByRequest = !m_controller.Ended();
  BeginClose();
  EndRun();
}

const char* TerminalView::Outcome() const {
  if (UpdateCompleted()) return kHistoryCompleted;
  if (m_endedByRequest) return kHistoryClosed;
  if (m_declined) return kHistoryDeclined;
  return kTerminalOutcomeFailed;
}

void TerminalView::AddLogLine(const std::string& line, bool) {
  // The empty line that separates attempts in the window's log has nothing to separate here.
  if (line.empty()) return;
  m_relay.Call([this, line] { m_report.Log(line); });
}

void TerminalView::SetProgressRange(int low, int high) {
  m_progressMinimum.store(low);
  m_progressMaximum.store(std::max(low, high));
}

int TerminalView::GetProgressPosition() {
  return m_relay.closed() ? 0 : m_progressPosition.load();
}

void TerminalView::SetProgressPosition(int position) {
  const int clamped = std::clamp(position, m_progressMinimum.load(), m_progressMaximum.load());
  m_progressPosition.store(clamped);
  m_relay.Post([this, clamped] { ReportProgress(clamped); });
}

void TerminalView::ReportProgress(int position) {
  const int low = m_progressMinimum.load();
  const int range = m_progressMaximum.load() - low;
  if (range <= 0) return;
  const int percent = static_cast<int>(static_cast<long long>(position - low) * 100 / range);
  // At most one report per whole percent, never going back: a transfer the device starts over
  // moves the bar back, the report waits until it is past where it was.
  if (percent <= m_lastPercent) return;
  m_lastPercent = percent;
  // The bar moves by whole blocks; its position gives back the number of blocks written.
  const std::uint64_t blockCount = m_imageBytes / FW_BLOCK_SIZE;
  const std::uint64_t scaled = static_cast<std::uint64_t>(position - low) * blockCount;
  const std::uint64_t blocks =
      std::min<std::uint64_t>(blockCount, (scaled + static_cast<std::uint64_t>(range) - 1) /
                                              static_cast<std::uint64_t>(range));
  m_report.Progress(percent, blocks * FW_BLOCK_SIZE);
}

void TerminalView::SetCurrentVersionText(const std::string& text) {
  m_relay.Call([this, text] {
    m_report.Notice(Translate("CFWUpdaterView", kCurrentVersionLabel) + QStringLiteral(": ") +
                    QString::fromStdString(text));
    m_report.Device(text);
  });
}

void TerminalView::SetTargetVersionText(const std::string& text) {
  m_relay.Call([this, text] {
    m_targetVersion = text;
    m_report.Notice(Translate("CFWUpdaterView", kTargetVersionLabel) + QStringLiteral(": ") +
                    QString::fromStdString(text));
  });
}

int TerminalView::ShowMessageBox(const std::string& text, const char*, unsigned type) {
  return RelayMessageBox(text, type, false);
}

int TerminalView::ShowRelabelledMessageBox(const std::string& text, const char*, unsigned type) {
  return RelayMessageBox(text, type, true);
}

int TerminalView::RelayMessageBox(const std::string& text, unsigned type, bool relabel) {
  return m_relay.Call<int>(
      [this, text, type, relabel] { return AnswerOnUiThread(text, type, relabel); },
      DismissedAnswer(type));
}

int TerminalView::AnswerOnUiThread(const std::string& text, unsigned type, bool relabel) {
  // The window shows no box once it is closing; neither does the terminal.
  if (m_closing) return DismissedAnswer(type);
  const QString translated = TranslatedMessageText(text);
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
      return AskYesNo(translated);
    case MB_OKCANCEL:
      // The box that offers the support page ("移動"): its line carries the address, and the
      // wait goes on as after "キャンセル". No other box asks OK or Cancel; none goes ahead.
      m_report.Message(translated);
      return relabel ? IDCANCEL : DismissedAnswer(type);
    default:
      m_report.Message(translated);
      return IDOK;
  }
}

int TerminalView::AskYesNo(const QString& question) {
  m_report.Message(question);
  if (m_options.assumeYes) {
    m_report.Notice(Translate("TerminalView", kAnsweredByOptionNote));
    return IDYES;
  }
  if (::isatty(STDIN_FILENO) != 1) {
    m_report.Notice(Translate("TerminalView", kNoTerminalNote));
    m_declined = true;
    return IDNO;
  }
  m_report.Notice(Translate("TerminalView", kYesNoPrompt), false);
  const std::string line = ReadAnswerLine();
  if (m_closing) return IDNO;  // the run ended while asking: not an answer
  if (IsYes(line)) return IDYES;
  m_declined = true;
  return IDNO;
}

std::string TerminalView::ReadAnswerLine() {
  std::string line;
  QEventLoop loop;
  m_questionLoop = &loop;
  QSocketNotifier notifier(static_cast<qintptr>(STDIN_FILENO), QSocketNotifier::Read);
  bool done = false;
  connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
    char bytes[256];
    const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) return;
    if (count > 0) line.append(bytes, static_cast<std::size_t>(count));
    // The end of the input answers too, with what came before it.
    if (count <= 0 || line.find('\n') != std::string::npos) {
      done = true;
      loop.quit();
    }
  });
  if (!done && !m_closing) loop.exec();
  m_questionLoop = nullptr;
  if (const std::size_t end = line.find('\n'); end != std::string::npos) line.resize(end);
  return line;
}

void TerminalView::ArmStepTimer(unsigned milliseconds) {
  // Read on the calling thread, which owns the sequence's state at this hand-over.
  const std::uint32_t phase = UpdatePhase;
  if (phase == 0 && milliseconds == kRestartDelayMs) {
    // The window would start over; the terminal makes one attempt, the script decides on more.
    m_relay.Post([this] { EndRun(); });
    return;
  }
  std::optional<LoadedImage> image;
  if (phase == 1) {
    image = LoadedImage{firmwareImage.fileName, firmwareImage.fileLength, firmwareImage.crc,
                        firmwareImage.size};
  }
  m_relay.Post([this, milliseconds, phase, image] {
    if (m_closing) return;
    if (image && !m_fileReported) {
      m_fileReported = true;
      m_imageBytes = image->size;
      m_report.File(image->name, m_targetVersion, image->fileLength, image->crc);
    }
    NotePhase(phase);
    m_stepTimer.start(static_cast<int>(std::min(milliseconds, 0x7FFFFFFFu)));
  });
}

void TerminalView::NotePhase(std::uint32_t phase) {
  if (phase == 4 && !m_writesStarted) {
    m_writesStarted = true;
    m_report.StartProgress(m_imageBytes);
  }
}

void TerminalView::StopStepTimer() {
  m_relay.Post([this] { m_stepTimer.stop(); });
}

void TerminalView::CloseMainWindow() {
  m_relay.Post([this] { EndRun(); });
}

void TerminalView::EndRun() {
  // Queued: the run's end must not come inside the step that asked for it, and a request made
  // before the event loop runs is kept for it.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                            Qt::QueuedConnection);
}
