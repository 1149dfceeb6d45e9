#!/usr/bin/env bash
# Writes the seed corpus of each fuzz target under fuzz/corpus/<target>/: a handful of small
# inputs that each reach one meaningful path. Run again after changing an input layout.
set -euo pipefail
corpus="$(cd "$(dirname "$0")" && pwd)/corpus"

seed() {  # seed <target> <file> <printf format...>
  mkdir -p "$corpus/$1"
  # shellcheck disable=SC2059
  printf "$3" >"$corpus/$1/$2"
}

# Names: the input is a name; split at '/' it is also the files of a working folder.
seed firmware_name_fuzz plain 'SC5_Firmware_v1.0.bin'
seed firmware_name_fuzz two-digit-minor 'SC5_Firmware_v1.10.bin'
seed firmware_name_fuzz text-around 'copy_SC5_Firmware_v1.2.bin.old'
seed firmware_name_fuzz other-case 'sc5_firmware_v1.0.BIN'
seed firmware_name_fuzz one-number 'SC5_Firmware_v1.bin'
seed firmware_name_fuzz prefix-twice 'SC5_Firmware_vSC5_Firmware_v3.4.bin'
seed firmware_name_fuzz folder 'readme.txt/SC5_Firmware_v2.0.bin/SC5_Firmware_v1.0.BIN'
seed firmware_name_fuzz non-utf8 '\xff\xfeSC5_Firmware_v9.9.bin\x80'

# Images: the input is the firmware file.
seed firmware_image_fuzz empty ''
seed firmware_image_fuzz one-byte '\x5a'
seed firmware_image_fuzz one-kilobyte "$(head -c 1024 /dev/zero | tr '\0' 'K')"
seed firmware_image_fuzz kilobyte-and-one "$(head -c 1025 /dev/zero | tr '\0' 'L')"
seed firmware_image_fuzz block-and-one "$(head -c 32769 /dev/zero | tr '\0' 'B')"

# Device replies: image shape, tail kilobytes, data seed; then per pass the answer to the
# question, then one choice byte per transfer (0xF0 and above fail it) and its reply bytes.
replies=device_replies_fuzz
seed $replies one-block-complete '\x01\x00\x07\x00''\x00\x01\x0a''\x00''\x00''\x00\x00\x00'
seed $replies retry-then-refused \
  '\x02\x03\x05\x00''\x00\x02\x00''\x00''\x01''\x00''\x00''\x00''\x00''\x01\x00'
seed $replies restart-from-block-one \
  '\x02\x00\x09\x00''\x00\x01\x01''\x00''\x00''\x00''\x02\x01\x07\x00\x00\x00''\x00''\x00''\x00''\x00''\x00\x00\x00'
seed $replies not-update-mode '\x00\x00\x01\x00''\x01\x05'
seed $replies declined '\x00\x00\x01\x0f''\x00\x01\x02'
seed $replies transfer-fails '\x01\x00\x01\x00''\x00\x01\x00''\xf3'
seed $replies checksum-unwritten '\x00\x04\x01\x00''\x00\x02\x03''\x03\x00'
seed $replies thirty-one-blocks \
  "\\xfc\\x00\\x03\\x00\\x00\\x01\\x00$(printf '\\x00%.0s' $(seq 62))\\x00\\x00\\x00"

# Device agent: the first list (count, names, claimed count), then operations.
agent=device_agent_fuzz
seed $agent scan-connect-send-close \
  '\x01\x02\x00''\x01\x01\x00''\x02''\x03\x02''\x04\x02\x00\x10''\x0b\x02''\x05\x00'
seed $agent huge-count '\x01\x02\x04\x01''\x01\x01\x00''\x02''\x03\x02''\x00\x00\x00''\x01\x01\x00'
seed $agent names-differing-in-case \
  '\x02\x02\x01\x00\x00''\x01\x01\x00''\x03\x03''\x00\x01\x01\x00\x00''\x01\x01\x00''\x04\x02\x00\x10'
seed $agent negative-count '\x01\x02\x03\x05''\x01\x01\x00''\x02''\x03\x02''\x04\x02\x01\x08'
seed $agent failures '\x02\x02\x02\x00\x00''\x01\x01\x00''\x09\x00\x00\x00''\x03\x02''\x07\x03''\x06''\x01\x00\x05'

# Traces: the input is a trace file; a valid one is replayed call by call.
trace=trace_replay_fuzz
seed $trace version-1 \
  '{"format":"scribolante-fw-updater-trace","version":1,"program":"1.3.0.12"}\n''{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1,"result":0,"returned":1}\n''{"seq":2,"ms":1,"interface":"I_GPUsbDeviceAgent","object":1,"op":"GetDeviceInfo","position":0,"returned":1}\n''{"seq":3,"ms":1,"interface":"I_DeviceInfo","object":1,"op":"GetName","result":"DEV"}\n''{"seq":4,"ms":2,"interface":"I_GPUsbDeviceAgent","object":1,"op":"OpenDevice","position":0,"access":1,"result":0,"returned":1}\n''{"seq":5,"ms":2,"interface":"I_UsbDevice","object":1,"op":"GetInterface","kind":2,"result":0,"returned":1}\n''{"seq":6,"ms":3,"interface":"I_GPHidDeviceEx","object":1,"op":"Transfer","command":"f6000000000000000000000000004750","direction":0,"length":4,"arg10":10,"arg3":3,"arg0":0,"result":0,"data":"0a0b0c0d"}\n'
seed $trace version-2-stuck \
  '{"format":"scribolante-fw-updater-trace","version":2,"program":"1.3.0.12","library":"/x/GPlusUSBLibEx.so","librarySize":null,"librarySha256":null,"libraryLoaded":true,"started":"2026-01-01T00:00:00.000Z"}\n''{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1}\n''{"seq":1,"ms":0,"result":0,"returned":1}\n''{"seq":2,"ms":1,"interface":"I_GPUsbDeviceAgent","object":1,"op":"Enumerate","kind":0,"mode":0,"scanOption":1,"filterEnabled":1,"vendorId":3895,"productId":256,"extraId":512,"filterName":""}\n''{"seq":2,"ms":1,"result":0}\n''{"seq":3,"ms":1,"interface":"I_GPUsbDeviceAgent","object":1,"op":"OpenDevice","position":0,"access":1}\n''{"seq":3,"ms":2,"result":0,"returned":1}\n''{"seq":4,"ms":2,"interface":"I_UsbDevice","object":1,"op":"GetInterface","kind":2}\n''{"seq":4,"ms":2,"result":0,"returned":1}\n''{"seq":5,"ms":3,"interface":"I_GPHidDeviceEx","object":1,"op":"Transfer","command":"f6000000000000000000000000004750","direction":0,"length":16,"arg10":10,"arg3":3,"arg0":0}\n'
seed $trace two-sessions \
  '{"format":"scribolante-fw-updater-trace","version":2,"program":"1.3.0.12","library":"/x/GPlusUSBLibEx.so","librarySize":null,"librarySha256":null,"libraryLoaded":true,"started":"2026-01-01T00:00:00.000Z"}\n''{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1}\n''{"seq":1,"ms":0,"result":3,"returned":null}\n''{"format":"scribolante-fw-updater-trace","version":2,"program":"1.3.0.12","library":"/x/GPlusUSBLibEx.so","librarySize":null,"librarySha256":null,"libraryLoaded":true,"started":"2026-01-01T00:00:00.000Z"}\n''{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1}\n''{"seq":1,"ms":0,"result":0,"returned":1}\n''{"seq":2,"ms":5,"interface":"I_GPUsbDeviceAgent","object":1,"op":"Release"}\n''{"seq":2,"ms":5}\n'
