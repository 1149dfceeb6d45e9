// Phases 1 and 2: select the device, then poll once a second until exactly one device in
// update mode is connected and open it, explaining every other case to the user.
#pragma once

#include <cstdint>

#include "usb/vendor_call_values.h"

namespace platform {
class PresentDeviceList;
class UrlOpener;
}  // namespace platform

inline constexpr std::uint32_t CONNECT_POLL_LIMIT = 180;
inline constexpr std::uint32_t NAME_SCAN_INTERVAL = 30;
inline constexpr const char* NORMAL_MODE_DEVICE_NAME = "VELDRA SCRIBOLANTE USB Device";
inline constexpr const char* SUPPORT_PAGE_URL =
    "https://support.veldra.co.jp/stationery/scribolantex/support.html";

// The device looked for, as every scan's filter names it.
using usb::kDeviceExtraId;
using usb::kDeviceProductId;
using usb::kDeviceVendorId;

// The system services the connection checks use; the application sets the real ones, tests
// set fakes. Not owned. Without a device list the checks read /sys; without an opener the
// support page is not opened.
void SetPresentDeviceList(platform::PresentDeviceList* list);
void SetUrlOpener(platform::UrlOpener* opener);

// Phase 1: the device filter. Always 0.
int SelectDevice();
// Phase 2, one poll: 0 connected, 1 keep polling, -1 start over, 2 end.
int CheckConnection();
// The log line of a poll that finds the device among the system's USB devices although the
// vendor library lists none: it is there, but the program cannot reach it.
inline constexpr const char* kDeviceUnreachableLine =
    "USB device present but not accessible (udev rule or library missing?).";

// True when a present device's name begins with NORMAL_MODE_DEVICE_NAME.
bool ScanForNormalModeDevice();
