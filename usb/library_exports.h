// The exports the updater takes from the vendor USB library. Each entry is built from the
// one declaration in vendor_interfaces.h, so an export's name and its function type cannot
// drift apart; the loader looks exports up only through these entries.
#pragma once

#include <type_traits>

#include "usb/vendor_interfaces.h"

// Declares usb::exports::<name>, holding the export's name and the type of a pointer to it.
#define FWU_VENDOR_EXPORT(function)                 \
  namespace usb::exports {                          \
  struct function {                                 \
    static constexpr const char* kName = #function; \
    using Function = decltype(&::function);         \
  };                                                \
  }

FWU_VENDOR_EXPORT(GPAPI_CreateGPUsbDeviceAgent)

#undef FWU_VENDOR_EXPORT

static_assert(std::is_same_v<usb::exports::GPAPI_CreateGPUsbDeviceAgent::Function,
                             GPAPI_CreateGPUsbDeviceAgentFunction>);
