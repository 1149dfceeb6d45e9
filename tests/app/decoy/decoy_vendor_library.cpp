// A stand-in for GPlusUSBLibEx.so placed where only a careless loader would look. Loading it
// creates the file named by FWU_DECOY_MARKER, so a test can tell that it was loaded at all.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

__attribute__((constructor)) void MarkLoaded() {
  const char* marker = std::getenv("FWU_DECOY_MARKER");
  if (marker == nullptr || *marker == '\0') return;
  const int file = ::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (file >= 0) ::close(file);
}

}  // namespace

// The vendor's factory name, so that a loader that took this file would find something to call
// and go on; it offers no agent.
extern "C" __attribute__((visibility("default"))) int GPAPI_CreateGPUsbDeviceAgent(int,
                                                                                   void** agent) {
  if (agent != nullptr) *agent = nullptr;
  return 2;
}
