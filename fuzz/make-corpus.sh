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
