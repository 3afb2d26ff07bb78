#include "zpusb_driver.h"

#include <libusb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "unix_file.h"
#include "zpusb_driver_record.h"

#ifndef ZEPRIC_USB_VENDOR_ID
#error "ZEPRIC_USB_VENDOR_ID must be defined by the build"
#endif

// Product ids with bit 15 set belong to the vendor's other devices, not to modules.
#define zpusbPRODUCT_ID_LIMIT 0x8000

bool is_zepric_device(struct libusb_device* device)
{
    struct libusb_device_descriptor descriptor;
    if (!device || libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return false;
    return descriptor.idVendor == ZEPRIC_USB_VENDOR_ID &&
           descriptor.idProduct < zpusbPRODUCT_ID_LIMIT;
}

bool zpusb_is_kernel_driver_installed(uint32_t serialNumber)
{
    char path[32];
    snprintf(path, sizeof(path), "/dev/zepric.%08X", serialNumber);
    return aFile_Exists(path);
}

bool zpusb_store_serial_text(zpusb* record, const char* text)
{
    size_t length = strlen(text);
    if (length >= sizeof(record->serialText))
        return false;
    memcpy(record->serialText, text, length + 1);
    return true;
}

zpusb* zpusb_create_usb(int32_t mode)
{
    zpusb* record = (zpusb*)calloc(1, sizeof(zpusb));
    if (!record)
        return NULL;
    record->mode = mode;
    if (mode != zpusbModeKernel) {
        if (libusb_init(&record->context) != LIBUSB_SUCCESS) {
            free(record);
            return NULL;
        }
        record->next = record->receiveBuffer;
    }
    zpusb_store_state(record, zpusbStateCreated);
    return record;
}

aErr zpusb_destroy(zpusb** record)
{
    if (!record || !*record)
        return aErrParam;
    zpusb* usb = *record;
    if (usb->handle)
        libusb_close(usb->handle);
    if (usb->context)
        libusb_exit(usb->context);
    free(usb);
    *record = NULL;
    return aErrNone;
}

aErr zpusb_open_zepric_device(zpusb* record, const char* serialText)
{
    if (!record || !serialText)
        return aErrParam;
    if (record->mode == zpusbModeKernel)
        return zpusb_open_zepric_kernel_device(record, serialText);
    return zpusb_open_zepric_USBlib_device(record, serialText);
}

aErr zpusb_write_to_device(zpusb* record, const uint8_t* data, size_t length)
{
    if (!record || (!data && length))
        return aErrParam;
    if (record->mode == zpusbModeKernel)
        return zpusb_write_to_kernel_device(record, data, length);
    return zpusb_write_to_USBlib_device(record, data, length);
}

aErr zpusb_get_from_device(zpusb* record, uint8_t* byte)
{
    if (!record || !byte)
        return aErrParam;
    if (record->mode == zpusbModeKernel)
        return zpusb_get_from_kernel_device(record, byte);
    return zpusb_get_from_USBlib_device(record, byte);
}

aErr zpusb_close_zepric_device(zpusb* record)
{
    if (!record)
        return aErrParam;
    if (record->mode == zpusbModeKernel)
        return zpusb_close_zepric_kernel_device(record);
    return zpusb_close_zepric_USBlib_device(record);
}

int32_t zpusb_get_state(const zpusb* record)
{
    return record ? zpusb_load_state(record) : zpusbStateNone;
}
