// The phase machine of the update: the phase table, the moves after each result, and the
// start-up and shut-down of the UsbWorkerThread.
#include "update/update_controller.h"

#include <new>
#include <system_error>

#include "update/connection_checks.h"
#include "update/desktop_activity.h"
#include "update/firmware_image.h"
#include "update/program_ending.h"
#include "update/update_protocol.h"
#include "update/update_state.h"
#include "update/update_view.h"
#include "update/usb_worker_thread.h"
#include "usb/hid_std_agent.h"

UpdateController* UpdateController::current = nullptr;

namespace {

PhaseSteps phaseSteps;

UpdateController::ThreadStarter threadStarter;

int Run(const std::function<int()>& scripted, int (*real)()) {
  return scripted ? scripted() : real();
}

std::jthread StartStandardThread(std::function<void(std::stop_token)> body) {
  return std::jthread(std::move(body));
}

}  // namespace

void SetPhaseStepsForTesting(const PhaseSteps& steps) {
  phaseSteps = steps;
}

void ResetPhaseStepsForTesting() {
  phaseSteps = PhaseSteps{};
}

void UpdateController::SetThreadStarterForTesting(ThreadStarter starter) {
  threadStarter = std::move(starter);
}

void AppendLogLine(const std::string& line) {
  if (UpdateContext && UpdateContext->view) UpdateContext->view->AddLogLine(line, true);
}

int RunPhase() {
  switch (UpdatePhase) {
    case 0:
      return Run(phaseSteps.loadFirmwareImage, LoadFirmwareImage);
    case 1:
      return Run(phaseSteps.selectDevice, SelectDevice);
    case 2: {
      const int result = Run(phaseSteps.checkConnection, CheckConnection);
      // The poll period counts from the moment the poll has returned.
      if (result == kPhaseWait && UpdateContext && UpdateContext->view) {
        UpdateContext->view->ArmStepTimer(kPollIntervalMs);
      }
      return result;
    }
    case 3:
      return Run(phaseSteps.queryDeviceInfo, QueryDeviceInfo);
    case 4:
      return UpdateController::current ? UpdateController::current->PostBlockWrite() : kPhaseEnd;
    case 5:
      return Run(phaseSteps.confirmImageChecksum, ConfirmImageChecksum);
    default:
      // Phase 6: the application is ending; a wait leaves the timer stopped.
      return kPhaseWait;
  }
}

UpdateController::UpdateController(UpdateView& view) : m_view(view) {
  current = this;
}

UpdateController::~UpdateController() {
  Shutdown();
  // No worker is left to read the flag; a later controller, or a test calling a phase step
  // directly, starts from an open view.
  SetUpdateClosing(false);
  if (UpdateContext == m_context.get()) UpdateContext = nullptr;
  m_context.reset();
  m_deviceAgent.reset();
  if (current == this) current = nullptr;
}

bool UpdateController::OnCreate() {
  SetUpdateClosing(false);
  ResetUpdateOutcome();
  m_ended.store(false);
  m_shutDown = false;
  try {
    m_deviceAgent = std::make_unique<C_GPUSBHIDStdAgentEx>();
    m_context =
        std::make_unique<UpdateContextRecord>(UpdateContextRecord{&m_view, m_deviceAgent.get()});
    m_worker = std::make_unique<UsbWorkerThread>(
        [] { return Run(phaseSteps.writeFirmwareBlocks, WriteFirmwareBlocks); },
        [](int result) {
          if (current) current->ApplyResult(result);
        });
  } catch (const std::bad_alloc&) {
    // The phases expect the context and its agent to exist; without them nothing can run.
    m_view.ShowMessageBox(kOutOfMemoryMessage, nullptr, MB_OK);
    EndApplication();
    return false;
  }
  firmwareImage = FirmwareImage{};
  UpdateContext = m_context.get();
  SetPhase(0);
  m_view.ArmStepTimer(kFirstStepDelayMs);

  // Without a worker phase 4 could never run; stop now with a reason rather than stall there.
  if (!m_worker->Start(threadStarter ? threadStarter : StartStandardThread)) {
    m_view.ShowMessageBox(kWorkerThreadFailedMessage, nullptr, MB_OK);
    EndApplication();
    return false;
  }
  m_workerThreadId = m_worker->threadId();
  return true;
}

void UpdateController::OnTimer(unsigned timerId) {
  if (timerId != STEP_TIMER_ID) return;
  OnUpdateStep();
}

void UpdateController::OnUpdateStep() {
  // A tick that was already on its way when the end or the close came runs nothing; nor does
  // one that arrives while the worker still owns the shared state (the repeating timer
  // brings it back once the worker's re-arm has handed the state over).
  if (m_ended.load() || m_shutDown || BlockWriteInFlight()) return;
  m_view.StopStepTimer();
  const int result = RunPhase();
  if (result != kPhaseWait) ApplyResult(result);
}

void UpdateController::ApplyResult(int result) {
  if (m_ended.load()) return;
  switch (result) {
    case kPhaseAdvance: {
      const std::uint32_t phase = UpdatePhase + 1;
      SetPhase(phase);
      if (phase == 2) m_view.AddLogLine(kConnectingLogLine, true);
      // The re-arm comes last: it hands the shared state to the next tick.
      m_view.ArmStepTimer(kNextStepDelayMs);
      break;
    }
    case kPhaseWait:
      // Only the worker answers a wait with a move: its run stopped at a yield point.
      m_view.ArmStepTimer(kNextStepDelayMs);
      break;
    case kPhaseRestart:
      SetPhase(0);
      // The empty line separates one attempt from the next.
      m_view.AddLogLine("", true);
      m_view.ArmStepTimer(kRestartDelayMs);
      break;
    default:
      EndApplication();
      break;
  }
}

void UpdateController::EndApplication() {
  m_ended.store(true);
  m_view.StopStepTimer();
  SetPhase(6);
  m_view.AddLogLine(kEndApplicationLogLine, true);
  m_view.CloseMainWindow();
}

int UpdateController::PostBlockWrite() {
  if (!m_worker || !m_worker->PostWriteBlocks()) {
    NoteWritingStopped();
    NoteAttemptOutcome(kWorkerThreadLostMessage);
    m_view.ShowMessageBox(kWorkerThreadLostMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }
  return kPhaseWait;
}

void UpdateController::SetPhase(std::uint32_t phase) {
  const std::uint32_t previous = UpdatePhase;
  UpdatePhase = phase;
  m_phase.store(phase, std::memory_order_release);
  // Writing begins with the user's yes (phase 3 to 4) and has ended whenever the sequence
  // leaves phases 4 and 5; the phases note the end earlier, before their message.
  if (previous == 3 && phase == 4) NoteWritingStarted();
  if (phase != 4 && phase != 5) NoteWritingStopped();
}

bool UpdateController::UpdateBeingWritten() const {
  const std::uint32_t phase = m_phase.load(std::memory_order_acquire);
  return !m_ended.load() && (phase == 4 || phase == 5);
}

void UpdateController::Shutdown() {
  ShutdownWithin(std::chrono::milliseconds::max());
}

bool UpdateController::ShutdownWithin(std::chrono::milliseconds limit) {
  m_shutDown = true;
  SetUpdateClosing(true);
  const bool stopped = !m_worker || m_worker->StopWithin(limit);
  // A worker left stuck writes nothing more either; the process's end follows.
  NoteWritingStopped();
  // With the worker joined, nothing else can end an attempt still open; a worker left stuck
  // is followed by the process's own end (EndProgramNow), which writes it.
  if (stopped) NoteAttemptOutcome(kHistoryClosed);
  return stopped;
}

bool UpdateController::BlockWriteInFlight() const {
  return m_worker && m_worker->BlockWriteInFlight();
}
