#!/usr/bin/env bash
# Builds a minimal sysfs tree holding one USB disk with the given SCSI vendor and model, as
# the kernel shows a USB mass-storage device, for the present-device list to find.
# Usage: scripts/make-fake-sysfs.sh <root> <vendor> <model>
set -euo pipefail
root=$1 vendor=$2 model=$3
usb_device=$root/devices/pci0000:00/0000:00:14.0/usb1/1-1
disk_device=$usb_device/1-1:1.0/host6/target6:0:0/6:0:0:0
mkdir -p "$disk_device" "$root/block/sdx" "$root/bus/usb/devices"
# sysfs marks a USB device (and its interfaces) with a subsystem link to the usb bus.
ln -sfn "../../../../../bus/usb" "$usb_device/subsystem"
ln -sfn "../../../../../../bus/usb" "$usb_device/1-1:1.0/subsystem"
printf '%-8s\n' "$vendor" >"$disk_device/vendor"
printf '%-16s\n' "$model" >"$disk_device/model"
printf '0f37\n' >"$usb_device/idVendor"
printf '0101\n' >"$usb_device/idProduct"
printf 'VELDRA\n' >"$usb_device/manufacturer"
printf 'SCRIBOLANTE X\n' >"$usb_device/product"
ln -sfn "../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0" "$root/block/sdx/device"
ln -sfn "../../../devices/pci0000:00/0000:00:14.0/usb1/1-1" "$root/bus/usb/devices/1-1"
