// The form view: builds form 101, carries the sequence's view operations to the UI thread,
// runs the step timer and shows the sequence's message boxes.
#include "update/view/fw_updater_view.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/test_switches.h"
#include "update/update_state.h"
#include "update/view/view_message_box.h"

namespace {

// What a screen reader calls the bar and the log, which have no label on the form.
constexpr const char* kProgressAccessibleName = QT_TRANSLATE_NOOP("CFWUpdaterView", "進行状況");
constexpr const char* kOperationLogAccessibleName = QT_TRANSLATE_NOOP("CFWUpdaterView", "操作ログ");

QString FromNarrow(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// With FWU_ECHO_UI set, log lines and message boxes are copied to standard error, one line
// each, so an unattended run (the headless demo) can follow the update.
void EchoToStandardError(const char* kind, const std::string& text) {
  static const bool enabled = std::getenv("FWU_ECHO_UI") != nullptr;
  if (!enabled) return;
  std::string oneLine = text;
  std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
  std::fprintf(stderr, "[%s] %s\n", kind, oneLine.c_str());
  std::fflush(stderr);
}

// In a build with the test switches, FWU_AUTO_ANSWER_VIEW_BOXES=<n> has the first n boxes of
// the sequence in this process answered with their default button (Yes or OK) without being
// shown, so that an unattended run (a process test, a timing script) can get past the
// confirmation and still meet a later box open. UI thread only.
bool TakeAutomaticAnswer() {
  static long remaining = platform::test_switches::AutoAnsweredViewBoxes();
  if (remaining == 0) return false;
  --remaining;
  return true;
}

}  // namespace

CFWUpdaterView::CFWUpdaterView(QWidget* parent)
    : QWidget(parent), m_formFont(FormFont()), m_units(m_formFont), m_controller(*this) {
  BuildForm();
}

CFWUpdaterView::~CFWUpdaterView() {
  BeginClose();
}

void CFWUpdaterView::BuildForm() {
  setFont(m_formFont);

  m_currentVersionLabel = new QLabel(tr(form101::kCurrentVersionLabelText), this);
  m_currentVersionLabel->setObjectName(QStringLiteral("currentVersionLabel"));
  m_targetVersionLabel = new QLabel(tr(form101::kTargetVersionLabelText), this);
  m_targetVersionLabel->setObjectName(QStringLiteral("targetVersionLabel"));

  // Editable so the user can select and copy a version; nothing ever reads them back.
  m_currentVersionEdit = new QLineEdit(this);
  m_currentVersionEdit->setObjectName(QStringLiteral("currentVersion1007"));
  m_targetVersionEdit = new QLineEdit(this);
  m_targetVersionEdit->setObjectName(QStringLiteral("targetVersion1008"));
  // A screen reader names each field by the label above it.
  m_currentVersionLabel->setBuddy(m_currentVersionEdit);
  m_currentVersionEdit->setAccessibleName(m_currentVersionLabel->text());
  m_targetVersionLabel->setBuddy(m_targetVersionEdit);
  m_targetVersionEdit->setAccessibleName(m_targetVersionLabel->text());

  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("progress1001"));
  m_progress->setRange(0, kProgressMaximum);
  m_progress->setValue(0);
  m_progress->setTextVisible(false);
  m_progress->setAccessibleName(tr(kProgressAccessibleName));
  NoteProgress();

  m_operationLog = new QListWidget(this);
  m_operationLog->setObjectName(QStringLiteral("operationLog1009"));
  m_operationLog->setAccessibleName(tr(kOperationLogAccessibleName));
  m_operationLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_operationLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_operationLog->setSortingEnabled(false);
  m_operationLog->setUniformItemSizes(true);

  setTabOrder(m_currentVersionEdit, m_targetVersionEdit);
  setTabOrder(m_targetVersionEdit, m_operationLog);

  m_progressUpdateTimer = new QTimer(this);
  m_progressUpdateTimer->setSingleShot(true);
  m_progressUpdateTimer->setInterval(kProgressUpdateDelayMs);
  connect(m_progressUpdateTimer, &QTimer::timeout, this, &CFWUpdaterView::ShowPendingProgress);

  m_stepTimer = new QTimer(this);
  m_stepTimer->setObjectName(QStringLiteral("stepTimer"));
  m_stepTimer->setTimerType(Qt::PreciseTimer);
  connect(m_stepTimer, &QTimer::timeout, this, &CFWUpdaterView::OnStepTimerTick);

  resize(formSize());
  PlaceControls();
}

void CFWUpdaterView::PlaceControls() {
  PlaceLabel(m_currentVersionLabel, form101::kCurrentVersionLabel);
  PlaceLabel(m_targetVersionLabel, form101::kTargetVersionLabel);
  m_currentVersionEdit->setGeometry(m_units.ToPixels(form101::kCurrentVersionEdit));
  m_targetVersionEdit->setGeometry(m_units.ToPixels(form101::kTargetVersionEdit));
  m_progress->setGeometry(m_units.ToPixels(form101::kProgress));
  // The log alone follows the form's width, one for one; its height stays.
  QRect log = m_units.ToPixels(form101::kOperationLog);
  log.setWidth(std::max(0, log.width() + width() - formSize().width()));
  m_operationLog->setGeometry(log);
}

void CFWUpdaterView::PlaceLabel(QLabel* label, const DialogRect& rect) {
  // The template's label boxes are narrower than their Japanese texts; a label may reach
  // as far right as the form does, so that it is not cut off.
  QRect place = m_units.ToPixels(rect);
  const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
  const int room = formSize().width() - place.x();
  place.setWidth(std::max(place.width(), std::min(textWidth, room)));
  label->setGeometry(place);
}

QSize CFWUpdaterView::formSize() const {
  return m_units.ToPixels(form101::kWidth, form101::kHeight);
}

bool CFWUpdaterView::OnCreate() {
  return m_controller.OnCreate();
}

void CFWUpdaterView::OnInitialUpdate() {
  QWidget* frame = window();
  if (frame == this) {
    const QSize fitted = formSize().boundedTo(size());
    if (fitted != size()) resize(fitted);
    return;
  }
  // Lay the frame out first, so that the view's size inside it is current.
  if (QLayout* layout = frame->layout()) layout->activate();
  const QSize chrome = frame->size() - size();
  const QSize fitted = (formSize() + chrome).boundedTo(frame->size());
  if (fitted != frame->size()) frame->resize(fitted);
}

void CFWUpdaterView::SetContextMenu(QMenu* menu) {
  m_contextMenu = menu;
}

bool CFWUpdaterView::BeginClose() {
  if (m_closing) return m_workerStopped;
  m_closing = true;
  m_stepTimer->stop();
  // From here on the worker gets its answers at once, so waiting for it below cannot wait on
  // the UI thread; a box it is waiting for is dismissed.
  m_relay.Close();
  if (m_openBox) m_openBox->reject();
  m_workerStopped = m_controller.ShutdownWithin(kWorkerStopLimit);
  return m_workerStopped;
}

void CFWUpdaterView::AddLogLine(const std::string& line, bool scrollToEnd) {
  m_relay.Call([this, line, scrollToEnd] {
    EchoToStandardError("log", line);
    m_operationLog->addItem(FromNarrow(line));
    if (scrollToEnd) m_operationLog->scrollToBottom();
  });
}

void CFWUpdaterView::SetProgressRange(int low, int high) {
  m_relay.Call([this, low, high] {
    ShowPendingProgress();
    m_progress->setRange(low, high);
    // A bar whose position fell outside the new range shows its low end.
    if (m_progress->value() < m_progress->minimum()) m_progress->setValue(m_progress->minimum());
    NoteProgress();
  });
}

int CFWUpdaterView::GetProgressPosition() {
  if (m_relay.OnUiThread()) {
    ShowPendingProgress();
    return std::max(m_progress->value(), m_progress->minimum());
  }
  // The worker reads what it last set (or the UI thread before it): one round trip per
  // accepted block would cost more than the block's own copy and checksum.
  return m_relay.closed() ? 0 : m_progressPosition.load();
}

void CFWUpdaterView::SetProgressPosition(int position) {
  // Out-of-range positions are clamped rather than ignored, so the bar shows a full or empty
  // end instead of keeping a stale value.
  if (m_relay.OnUiThread()) {
    m_progressUpdatePending.store(false);  // this position is newer than the worker's
    m_progress->setValue(std::clamp(position, m_progress->minimum(), m_progress->maximum()));
    NoteProgress();
    return;
  }
  // From the worker the position is only noted; the UI thread takes the latest one a moment
  // later, once for however many blocks were written in between. One hand-over to the UI
  // thread per block, and a repaint with it, cost more than the block's copy and checksum
  // and held up the sequence's next step on the UI thread, for no change anyone could see.
  const int clamped = std::clamp(position, m_progressMinimum.load(),
                                 std::max(m_progressMinimum.load(), m_progressMaximum.load()));
  m_progressPosition.store(clamped);
  if (m_progressUpdatePending.exchange(true)) return;
  m_relay.Post([this] { m_progressUpdateTimer->start(); });
}

void CFWUpdaterView::ShowPendingProgress() {
  if (m_progressUpdatePending.exchange(false)) m_progress->setValue(m_progressPosition.load());
}

void CFWUpdaterView::NoteProgress() {
  m_progressMinimum.store(m_progress->minimum());
  m_progressMaximum.store(m_progress->maximum());
  m_progressPosition.store(std::max(m_progress->value(), m_progress->minimum()));
}

void CFWUpdaterView::SetCurrentVersionText(const std::string& text) {
  m_relay.Call([this, text] { m_currentVersionEdit->setText(FromNarrow(text)); });
}

void CFWUpdaterView::SetTargetVersionText(const std::string& text) {
  m_relay.Call([this, text] { m_targetVersionEdit->setText(FromNarrow(text)); });
}

int CFWUpdaterView::ShowMessageBox(const std::string& text, const char* caption, unsigned type) {
  return RelayMessageBox(text, caption, type, false);
}

int CFWUpdaterView::ShowRelabelledMessageBox(const std::string& text, const char* caption,
                                             unsigned type) {
  return RelayMessageBox(text, caption, type, true);
}

int CFWUpdaterView::RelayMessageBox(const std::string& text, const char* caption, unsigned type,
                                    bool relabel) {
  // The caption is copied: a worker's caption pointer need not outlive its call.
  std::optional<std::string> ownCaption;
  if (caption) ownCaption = caption;
  return m_relay.Call<int>(
      [this, text, ownCaption, type, relabel] {
        return ShowBoxOnUiThread(text, ownCaption ? ownCaption->c_str() : nullptr, type, relabel);
      },
      DismissedAnswer(type));
}

int CFWUpdaterView::ShowBoxOnUiThread(const std::string& text, const char* caption, unsigned type,
                                      bool relabel) {
  if (m_closing) return DismissedAnswer(type);
  // A box from the worker finds the bar where the worker left it.
  ShowPendingProgress();
  EchoToStandardError("message box", text);
  if (TakeAutomaticAnswer()) return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
  const QPointer<QMessageBox> box = CreateMessageBox(this, text, caption, type);
  std::optional<RenameButtonsHook> hook;
  if (relabel) hook.emplace(box.data());
  const QPointer<QMessageBox> outerBox = m_openBox;
  m_openBox = box;
  const QPointer<CFWUpdaterView> self(this);
  box->exec();
  // The box goes with the view if the view was deleted while the box was open.
  if (!self) return DismissedAnswer(type);
  m_openBox = outerBox;
  if (!box) return DismissedAnswer(type);
  const int answer = MessageBoxAnswer(*box, type);
  delete box.data();
  return answer;
}

void CFWUpdaterView::ArmStepTimer(unsigned milliseconds) {
  m_relay.Post([this, milliseconds] {
    if (!m_closing) m_stepTimer->start(static_cast<int>(std::min(milliseconds, 0x7FFFFFFFu)));
  });
}

void CFWUpdaterView::StopStepTimer() {
  m_relay.Post([this] { m_stepTimer->stop(); });
}

void CFWUpdaterView::CloseMainWindow() {
  // Never inside the step that asks: the close would join the worker and tear the view
  // down under the caller. From the worker the relay already queues it.
  auto close = [this] {
    if (!m_closing) window()->close();
  };
  if (m_relay.OnUiThread()) {
    QMetaObject::invokeMethod(this, close, Qt::QueuedConnection);
  } else {
    m_relay.Post(close);
  }
}

void CFWUpdaterView::OnStepTimerTick() {
  // The block writes are over (or have not begun): the worker's last position is shown and
  // painted before the next phase runs, as that phase may hold the UI thread in a device call
  // (the checksum confirmation) for a while. During the writes the bar may skip positions.
  if (m_progressUpdatePending.load() && !m_controller.BlockWriteInFlight() && UpdatePhase != 4) {
    ShowPendingProgress();
    m_progress->repaint();
  }
  m_controller.OnTimer(STEP_TIMER_ID);
}

void CFWUpdaterView::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_contextMenu) {
    event->ignore();
    return;
  }
  m_contextMenu->popup(event->globalPos());
  event->accept();
}

void CFWUpdaterView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceControls();
}

void CFWUpdaterView::closeEvent(QCloseEvent* event) {
  if (isWindow()) BeginClose();
  QWidget::closeEvent(event);
}
