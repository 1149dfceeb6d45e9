// The agent lock: one recursive mutex for the process, entered and left by scoped guards.
#include "usb/agent_lock.h"

#include <new>

C_GPUsbDeviceAgentWrapperThreadLock::C_CriticalSectionLock
    C_GPUsbDeviceAgentWrapperThreadLock::agentLock;

C_GPUsbDeviceAgentWrapperThreadLock::C_CriticalSectionLock::C_CriticalSectionLock()
    : section(new (std::nothrow) std::recursive_mutex) {}

C_GPUsbDeviceAgentWrapperThreadLock::C_CriticalSectionLock::~C_CriticalSectionLock() {
  delete section;
  section = nullptr;
}

C_GPUsbDeviceAgentWrapperThreadLock::C_GPUsbDeviceAgentWrapperThreadLock()
    : entered_(agentLock.section) {
  if (entered_ != nullptr) entered_->lock();
}

C_GPUsbDeviceAgentWrapperThreadLock::~C_GPUsbDeviceAgentWrapperThreadLock() {
  // A section freed at exit in the meantime is not touched again.
  if (entered_ != nullptr && agentLock.section == entered_) entered_->unlock();
}
