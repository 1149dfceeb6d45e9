# The SCRIBOLANTE X's USB IDs in firmware update mode, written once: the build makes the values
# header (vendor_call_values.h) and the udev rule from them. Four hexadecimal digits each.
set(FWU_DEVICE_USB_VENDOR_ID 0F37)
set(FWU_DEVICE_USB_PRODUCT_ID 0100)
set(FWU_DEVICE_USB_EXTRA_ID 0200)
