// The process-wide recursive lock of the HID device agent and its scoped guard. The UI
// thread and the update worker both reach the agent; the lock serialises every scan, open,
// close and transfer.
#pragma once

#include <mutex>

// Holding a guard from the start of an operation to every return (exceptions included)
// keeps the agent to one thread. The lock is recursive by design: a locked operation may
// trigger a rescan that takes it again on the same thread.
class C_GPUsbDeviceAgentWrapperThreadLock {
 public:
  // Owner of the one recursive section of the process.
  class C_CriticalSectionLock {
   public:
    // Allocates the section; if the allocation fails, section stays null and locking does
    // nothing.
    C_CriticalSectionLock();
    // Frees the section and sets it to null (at process exit).
    virtual ~C_CriticalSectionLock();

    C_CriticalSectionLock(const C_CriticalSectionLock&) = delete;
    C_CriticalSectionLock& operator=(const C_CriticalSectionLock&) = delete;

    // Owned; null means locking does nothing.
    std::recursive_mutex* section;
  };

  // Enters agentLock's section, if there is one; blocks while another thread holds it.
  C_GPUsbDeviceAgentWrapperThreadLock();
  // Leaves the section entered by the constructor, unless it has been freed since.
  virtual ~C_GPUsbDeviceAgentWrapperThreadLock();

  C_GPUsbDeviceAgentWrapperThreadLock(const C_GPUsbDeviceAgentWrapperThreadLock&) = delete;
  C_GPUsbDeviceAgentWrapperThreadLock& operator=(const C_GPUsbDeviceAgentWrapperThreadLock&) =
      delete;

  // The lock shared by every agent of the process, constructed during static initialisation.
  static C_CriticalSectionLock agentLock;

 private:
  // The section actually entered, so that leaving never unlocks one that was not locked
  // (agentLock's section may be set up while a guard made during static start-up is alive).
  std::recursive_mutex* entered_;
};
