// The scripted UpdateView of the headless sequence tests: records, scripted answers, a
// virtual step timer and the closing switch.
#include "fake_update_view.h"

namespace {

int DefaultAnswer(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO:
      return IDYES;
    default:
      return IDOK;
  }
}

}  // namespace

FakeUpdateView::FakeUpdateView() : m_uiThread(std::this_thread::get_id()) {}

FakeUpdateView::~FakeUpdateView() = default;

bool FakeUpdateView::OnUiThread() const {
  return std::this_thread::get_id() == m_uiThread;
}

bool FakeUpdateView::IgnoreLocked(const char* operation) {
  if (!m_closing || OnUiThread()) return false;
  m_journal.push_back(std::string("ignored:") + operation);
  return true;
}

void FakeUpdateView::AddLogLine(const std::string& line, bool scrollToEnd) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("log")) return;
  m_logLines.push_back({line, scrollToEnd, m_now, OnUiThread()});
  m_journal.push_back((scrollToEnd ? "log:" : "log-noscroll:") + line);
}

void FakeUpdateView::SetProgressRange(int low, int high) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("range")) return;
  m_progressRanges.emplace_back(low, high);
  m_journal.push_back("range:" + std::to_string(low) + ".." + std::to_string(high));
}

int FakeUpdateView::GetProgressPosition() {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("get-progress")) return 0;
  return m_progressPosition;
}

void FakeUpdateView::SetProgressPosition(int position) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("progress")) return;
  m_progressPosition = position;
  m_progressPositions.push_back(position);
  m_journal.push_back("progress:" + std::to_string(position));
}

void FakeUpdateView::SetCurrentVersionText(const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("current")) return;
  m_currentVersionTexts.push_back(text);
  m_journal.push_back("current:" + text);
}

void FakeUpdateView::SetTargetVersionText(const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("target")) return;
  m_targetVersionTexts.push_back(text);
  m_journal.push_back("target:" + text);
}

int FakeUpdateView::ShowMessageBox(const std::string& text, const char* caption, unsigned type) {
  return ShowBox(text, caption, type, false);
}

int FakeUpdateView::ShowRelabelledMessageBox(const std::string& text, const char* caption,
                                             unsigned type) {
  return ShowBox(text, caption, type, true);
}

int FakeUpdateView::ShowBox(const std::string& text, const char* caption, unsigned type,
                            bool relabelled) {
  MessageBoxRecord record{text,
                          caption ? std::optional<std::string>(caption) : std::nullopt,
                          type,
                          relabelled,
                          0,
                          false,
                          std::this_thread::get_id(),
                          false,
                          0};
  std::function<int(const MessageBoxRecord&)> handler;
  std::unique_lock lock(m_mutex);
  if (IgnoreLocked(relabelled ? "relabelled-box" : "box")) return DismissedAnswer(type);
  record.fromUiThread = OnUiThread();
  record.at = m_now;
  m_journal.push_back((relabelled ? "relabelled-box:" : "box:") + text);

  std::optional<int> answer;
  if (m_holdNext) {
    m_holdNext = false;
    m_boxHeld = true;
    m_heldAnswer.reset();
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_heldAnswer.has_value() || m_closing; });
    m_boxHeld = false;
    if (m_heldAnswer) {
      answer = *m_heldAnswer;
    } else {
      answer = DismissedAnswer(type);
      record.dismissedByClosing = true;
    }
    m_heldAnswer.reset();
  } else if (!m_answers.empty()) {
    answer = m_answers.front();
    m_answers.pop_front();
  } else if (m_handler) {
    handler = m_handler;
  } else {
    answer = DefaultAnswer(type);
  }

  if (!answer) {
    lock.unlock();
    answer = handler(record);
    lock.lock();
  }
  record.answer = *answer;
  m_messageBoxes.push_back(record);
  return *answer;
}

void FakeUpdateView::ArmStepTimer(unsigned milliseconds) {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("arm")) return;
  m_deadline = m_now + milliseconds;
  m_period = milliseconds;
  m_journal.push_back("arm:" + std::to_string(milliseconds));
  m_changed.notify_all();
}

void FakeUpdateView::StopStepTimer() {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("stop")) return;
  m_deadline.reset();
  m_journal.push_back("stop");
  m_changed.notify_all();
}

void FakeUpdateView::CloseMainWindow() {
  std::lock_guard lock(m_mutex);
  if (IgnoreLocked("close")) return;
  ++m_closeCount;
  m_journal.push_back("close");
  m_changed.notify_all();
}

void FakeUpdateView::QueueAnswers(std::initializer_list<int> answers) {
  std::lock_guard lock(m_mutex);
  m_answers.insert(m_answers.end(), answers.begin(), answers.end());
}

void FakeUpdateView::SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler) {
  std::lock_guard lock(m_mutex);
  m_handler = std::move(handler);
}

void FakeUpdateView::HoldNextMessageBox() {
  std::lock_guard lock(m_mutex);
  m_holdNext = true;
}

bool FakeUpdateView::WaitForHeldBox(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_boxHeld; });
}

void FakeUpdateView::ReleaseHeldBox(int answer) {
  std::lock_guard lock(m_mutex);
  m_heldAnswer = answer;
  m_changed.notify_all();
}

void FakeUpdateView::BeginClosing() {
  std::lock_guard lock(m_mutex);
  m_closing = true;
  m_journal.push_back("closing");
  m_changed.notify_all();
}

bool FakeUpdateView::Closing() const {
  std::lock_guard lock(m_mutex);
  return m_closing;
}

void FakeUpdateView::SetUiThread(std::thread::id thread) {
  std::lock_guard lock(m_mutex);
  m_uiThread = thread;
}

std::vector<LogLineRecord> FakeUpdateView::LogLines() const {
  std::lock_guard lock(m_mutex);
  return m_logLines;
}

std::vector<std::string> FakeUpdateView::LogTexts() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> texts;
  for (const auto& line : m_logLines) texts.push_back(line.text);
  return texts;
}

std::vector<std::pair<int, int>> FakeUpdateView::ProgressRanges() const {
  std::lock_guard lock(m_mutex);
  return m_progressRanges;
}

std::vector<int> FakeUpdateView::ProgressPositions() const {
  std::lock_guard lock(m_mutex);
  return m_progressPositions;
}

int FakeUpdateView::ProgressPosition() const {
  std::lock_guard lock(m_mutex);
  return m_progressPosition;
}

std::vector<std::string> FakeUpdateView::CurrentVersionTexts() const {
  std::lock_guard lock(m_mutex);
  return m_currentVersionTexts;
}

std::vector<std::string> FakeUpdateView::TargetVersionTexts() const {
  std::lock_guard lock(m_mutex);
  return m_targetVersionTexts;
}

std::vector<MessageBoxRecord> FakeUpdateView::MessageBoxes() const {
  std::lock_guard lock(m_mutex);
  return m_messageBoxes;
}

std::vector<TickRecord> FakeUpdateView::Ticks() const {
  std::lock_guard lock(m_mutex);
  return m_ticks;
}

std::vector<std::string> FakeUpdateView::Journal() const {
  std::lock_guard lock(m_mutex);
  return m_journal;
}

int FakeUpdateView::CloseCount() const {
  std::lock_guard lock(m_mutex);
  return m_closeCount;
}

std::uint64_t FakeUpdateView::Now() const {
  std::lock_guard lock(m_mutex);
  return m_now;
}

std::optional<std::uint64_t> FakeUpdateView::Deadline() const {
  std::lock_guard lock(m_mutex);
  return m_deadline;
}

bool FakeUpdateView::AdvanceToDeadline(std::uint32_t phaseAtTick) {
  std::lock_guard lock(m_mutex);
  if (!m_deadline) return false;
  if (*m_deadline > m_now) m_now = *m_deadline;
  m_ticks.push_back({m_now, phaseAtTick});
  m_journal.push_back("tick@" + std::to_string(m_now) + ":" + std::to_string(phaseAtTick));
  // A repeating timer: due again one period later unless the step stops or re-arms it.
  m_deadline = m_now + m_period;
  return true;
}

bool FakeUpdateView::WaitForArmOrClose(std::chrono::milliseconds timeout,
                                       const std::function<bool()>& stop) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // stop() runs without the lock, so it may look at the view's records.
    if (stop()) return true;
    std::unique_lock lock(m_mutex);
    if (m_deadline || m_closeCount > 0) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    m_changed.wait_for(lock, std::chrono::milliseconds(5));
  }
}
