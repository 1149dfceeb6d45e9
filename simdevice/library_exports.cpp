// The one symbol GPlusUSBLibEx.so exports: the vendor's factory, over our simulated devices.
#include <cstdio>

#include "simdevice/agent_factory.h"
#include "usb/vendor_interfaces.h"

extern "C" __attribute__((visibility("default"))) int GPAPI_CreateGPUsbDeviceAgent(
    int version, I_GPUsbDeviceAgent** agent) {
  return simdevice::CreateAgentFromEnvironment(version, agent, stderr);
}
