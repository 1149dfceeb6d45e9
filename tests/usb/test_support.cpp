// Helpers shared by the USB layer's tests.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "platform/program_path.h"
#include "usb/agent_lock.h"
#include "usb/library_loader.h"

namespace usb_test {

void ResetLibraryLoader() {
  usbLibraryLoader.SetLibraryPath("/nonexistent/usb-tests-reset.so");
  usbLibraryLoader.SetLibraryPath(nullptr);
}

std::filesystem::path SimulatedLibraryPath() {
  return std::filesystem::path(platform::ProgramFolder()) / "GPlusUSBLibEx.so";
}

bool AgentLockTakenElsewhere() {
  std::recursive_mutex* section = C_GPUsbDeviceAgentWrapperThreadLock::agentLock.section;
  bool acquired = false;
  std::thread([&] {
    if (section->try_lock()) {
      acquired = true;
      section->unlock();
    }
  }).join();
  return !acquired;
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace usb_test
