// The smallest library port a newcomer writes from the -dev package alone: built against the
// installed headers only, one device "MINIMAL-1" that answers the device-information read. As
// some ports do, it keeps a timer of its own on SIGALRM, which whoever loads it must leave be.
#include <scribolante-fw-updater/vendor_call_values.h>
#include <scribolante-fw-updater/vendor_interfaces.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace {

// The library's own timers: a long one armed with each agent, and a short one each device read
// waits for. A caller that cancelled or re-armed the long one, or took the short one's signal
// on another thread, makes the read fail, or never return.
constexpr unsigned kAgentTimerSeconds = 3600;
volatile sig_atomic_t alarmsSeen = 0;

void OnAlarm(int) {
  alarmsSeen = alarmsSeen + 1;
}

void ArmAgentTimer() {
  struct sigaction action {};
  action.sa_handler = &OnAlarm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  alarm(kAgentTimerSeconds);
}

bool OwnTimersWork() {
  const unsigned left = alarm(0);
  // Nothing of the library's takes anywhere near 10 minutes between the agent and the read.
  if (left <= kAgentTimerSeconds - 600) return false;
  sigset_t alarmOnly;
  sigset_t previous;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarmOnly, &previous);
  const sig_atomic_t before = alarmsSeen;
  alarm(1);
  sigset_t waiting = previous;
  sigdelset(&waiting, SIGALRM);
  while (alarmsSeen == before) sigsuspend(&waiting);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  alarm(left);
  return true;
}

class Info final : public I_DeviceInfo {
 public:
  const char* GetName() override { return "MINIMAL-1"; }
};
Info device;

class Hid final : public I_GPHidDeviceEx {
 public:
  void Release() override { delete this; }
  I_DeviceInfo* GetDeviceInfo() override { return &device; }
  int GetAttributeA() override { return 0; }
  int GetAttributeB() override { return 0; }
  int Transfer(const void* command, int direction, void* data, int length, int, int, int) override {
    if (std::memcmp(command, usb::kDeviceInfoCommand, usb::kDeviceInfoCommandSize) != 0 ||
        direction != usb::kDirectionFromDevice || length != usb::kDeviceInfoReplySize)
      return 1;
    if (!OwnTimersWork()) return 3;
    unsigned char reply[16] = {0, 0, 0, 0, 0, 1, 2};  // update mode, firmware 1.2
    std::memcpy(data, reply, sizeof reply);
    return 0;
  }
};

class Usb final : public I_UsbDevice {
 public:
  void Release() override { delete this; }
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override {
    if (kind != 2 || hid == nullptr) return 2;
    *hid = new Hid;
    return 0;
  }
};

class Agent final : public I_GPUsbDeviceAgent {
 public:
  void Release() override { delete this; }
  int Enumerate(EnumerateRequest* request) override {
    if (request == nullptr || request->filter == nullptr) return 2;
    // Lists the device only for the updater's own filter.
    const DeviceFilter& filter = *request->filter;
    m_count = filter.vendorId == usb::kDeviceVendorId &&
                      filter.productId == usb::kDeviceProductId &&
                      filter.extraId == usb::kDeviceExtraId
                  ? 1
                  : 0;
    return 0;
  }
  int GetCount() override { return m_count; }
  I_DeviceInfo* GetDeviceInfo(int position) override {
    return position == 0 && m_count == 1 ? &device : nullptr;
  }
  int OpenDevice(int position, int, I_UsbDevice** opened) override {
    if (position != 0 || m_count != 1 || opened == nullptr) return 2;
    *opened = new Usb;
    return 0;
  }

 private:
  int m_count = 0;
};

}  // namespace

int GPAPI_CreateGPUsbDeviceAgent(int version, I_GPUsbDeviceAgent** agent) {
  if (version != usb::kFactoryVersion || agent == nullptr) return 2;
  ArmAgentTimer();
  *agent = new Agent;
  return 0;
}
