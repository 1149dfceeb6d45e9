// The values the program passes into the vendor library's operations, in one place: the HID
// device agent and the library conformance check must pass exactly the same ones.
#pragma once

namespace usb {

// GPAPI_CreateGPUsbDeviceAgent: the interface version asked for.
inline constexpr int kFactoryVersion = 1;
// I_GPUsbDeviceAgent::Enumerate: the facade's scan option, and the kind and mode of a scan
// by device name.
inline constexpr int kScanOption = 1;
inline constexpr int kNameScanMode = 2;
inline constexpr int kNameScanKind = 3;
// I_GPUsbDeviceAgent::OpenDevice: the access asked for.
inline constexpr int kOpenAccess = 1;
// I_UsbDevice::GetInterface: the HID interface.
inline constexpr int kHidInterfaceKind = 2;
// I_GPHidDeviceEx::Transfer: the three trailing arguments of every transfer.
inline constexpr int kTransferArg10 = 10;
inline constexpr int kTransferArg3 = 3;
inline constexpr int kTransferArg0 = 0;
// I_GPHidDeviceEx::Transfer: the direction of the data phase.
inline constexpr int kDirectionFromDevice = 0;
inline constexpr int kDirectionToDevice = 1;

}  // namespace usb
