// libusb path: the module's vendor interface and its two bulk (or interrupt) endpoints,
// driven with synchronous transfers.

#include <libusb.h>
#include <stdio.h>
#include <string.h>

#include "zpusb_driver_record.h"

// The module's vendor-specific interface.
#define sINTERFACE_CLASS 0xFF
#define sINTERFACE_SUBCLASS 0x88
#define sINTERFACE_PROTOCOL 0x10

#define sWRITE_TIMEOUT_MS 50
#define sREAD_TIMEOUT_MS 100
// Every attempt counts, successful or not, so one call can't retry without bound.
#define sWRITE_ATTEMPTS 100

static bool sIsTransferEndpoint(const struct libusb_endpoint_descriptor* endpoint)
{
    // Bit 1 of the transfer type is set for bulk and interrupt endpoints.
    return (endpoint->bmAttributes & 0x02) != 0;
}

static void sRecordEndpoints(zpusb* record, const struct libusb_interface_descriptor* setting,
                             bool* haveIn, bool* haveOut)
{
    record->interfaceNumber = setting->bInterfaceNumber;
    for (int e = 0; e < setting->bNumEndpoints; e++) {
        const struct libusb_endpoint_descriptor* endpoint = &setting->endpoint[e];
        if (!sIsTransferEndpoint(endpoint))
            continue;
        if (endpoint->bEndpointAddress & LIBUSB_ENDPOINT_IN) {
            record->inEndpoint = endpoint->bEndpointAddress;
            *haveIn = true;
        } else {
            record->outEndpoint = endpoint->bEndpointAddress;
            *haveOut = true;
        }
    }
}

static bool find_usb_endpoints(zpusb* record)
{
    if (!record->handle)
        return false;
    libusb_device* device = libusb_get_device(record->handle);
    struct libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return false;
    struct libusb_config_descriptor* config = NULL;
    if (libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return false;
    bool haveIn = false;
    bool haveOut = false;
    for (int i = 0; i < config->bNumInterfaces; i++) {
        const struct libusb_interface* interface = &config->interface[i];
        for (int a = 0; a < interface->num_altsetting; a++) {
            const struct libusb_interface_descriptor* setting = &interface->altsetting[a];
            if (setting->bInterfaceClass == sINTERFACE_CLASS &&
                setting->bInterfaceSubClass == sINTERFACE_SUBCLASS &&
                setting->bInterfaceProtocol == sINTERFACE_PROTOCOL)
                sRecordEndpoints(record, setting, &haveIn, &haveOut);
        }
    }
    libusb_free_config_descriptor(config);
    return haveIn && haveOut;
}

static aErr sClaimError(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_NO_DEVICE:
        return aErrBusy;
    case LIBUSB_ERROR_ACCESS:
        return aErrPermission;
    default:
        return aErrUnknown;
    }
}

static void sForgetHandle(zpusb* record)
{
    libusb_close(record->handle);
    record->handle = NULL;
}

// The serial text matched: find the interface, claim it and keep the handle.
static aErr sOpenMatched(zpusb* record)
{
    zpusb_store_state(record, zpusbStateOpening);
    if (!find_usb_endpoints(record)) {
        zpusb_store_state(record, zpusbStateClosed);
        sForgetHandle(record);
        return aErrConfiguration;
    }
    int claimed = libusb_claim_interface(record->handle, record->interfaceNumber);
    if (claimed != LIBUSB_SUCCESS) {
        zpusb_store_state(record, zpusbStateClosed);
        sForgetHandle(record);
        return sClaimError(claimed);
    }
    zpusb_store_state(record, zpusbStateOpen);
    return aErrNone;
}

// Opens the device and answers its handle when its serial string is exactly the text.
static libusb_device_handle* sOpenIfSerialMatches(libusb_device* device, const char* serialText)
{
    libusb_device_handle* handle = NULL;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS)
        return NULL;
    struct libusb_device_descriptor descriptor;
    unsigned char serial[zpusbSERIAL_TEXT_SIZE];
    memset(serial, 0, sizeof(serial));
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
        libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial,
                                           sizeof(serial)) >= 0 &&
        strncmp((const char*)serial, serialText, sizeof(serial)) == 0)
        return handle;
    libusb_close(handle);
    return NULL;
}

aErr zpusb_open_zepric_USBlib_device(zpusb* record, const char* serialText)
{
    if (record->mode == zpusbModeKernel)
        return aErrMode;
    if (zpusb_load_state(record) == zpusbStateNone || !record->context)
        return aErrResource;
    // A second open would drop the handle (and the claim) of the first.
    if (record->handle)
        return aErrBusy;
    if (strlen(serialText) >= sizeof(record->serialText))
        return aErrNotFound;

    aErr result = aErrNotFound;
    libusb_device** devices = NULL;
    ssize_t count = libusb_get_device_list(record->context, &devices);
    for (ssize_t d = 0; d < count; d++) {
        if (!is_zepric_device(devices[d]))
            continue;
        libusb_device_handle* handle = sOpenIfSerialMatches(devices[d], serialText);
        if (!handle)
            continue;
        zpusb_store_serial_text(record, serialText);
        record->handle = handle;
        result = sOpenMatched(record);
        break;
    }
    if (count >= 0)
        libusb_free_device_list(devices, 1);
    return result;
}

// One chunk of up to 50 bytes: answers whether it went out; a failure on the way sets
// *result to aErrIO and the record to failed.
static bool sSendChunk(zpusb* record, const uint8_t* data, int length, aErr* result)
{
    uint8_t block[zpusbWRITE_CHUNK];
    memset(block, 0, sizeof(block));
    memcpy(block, data, (size_t)length);
    int sent = 0;
    int rc = libusb_bulk_transfer(record->handle, record->outEndpoint, block, length, &sent,
                                  sWRITE_TIMEOUT_MS);
    if (rc == LIBUSB_SUCCESS)
        return true;
    if (rc == LIBUSB_ERROR_PIPE) {
        if (libusb_clear_halt(record->handle, record->outEndpoint) != LIBUSB_SUCCESS) {
            zpusb_store_state(record, zpusbStateFailed);
            *result = aErrIO;
        }
        return false;
    }
    int rest = 0;
    rc = libusb_bulk_transfer(record->handle, record->outEndpoint, block + sent, length - sent,
                              &rest, sWRITE_TIMEOUT_MS);
    if (rc == LIBUSB_SUCCESS)
        return true;
    zpusb_store_state(record, zpusbStateFailed);
    *result = aErrIO;
    return false;
}

static aErr sStateError(int32_t state)
{
    switch (state) {
    case zpusbStateClosed:
        return aErrConnection;
    case zpusbStateCreated:
    case zpusbStateOpening:
        return aErrNotReady;
    default:
        return aErrIO;
    }
}

aErr zpusb_write_to_USBlib_device(zpusb* record, const uint8_t* data, size_t length)
{
    if (record->mode == zpusbModeKernel)
        return aErrMode;
    const int32_t state = zpusb_load_state(record);
    if (state != zpusbStateOpen)
        return sStateError(state);
    aErr result = aErrNone;
    size_t done = 0;
    for (int attempt = 0; attempt < sWRITE_ATTEMPTS && done < length; attempt++) {
        int chunk = (int)(length - done < zpusbWRITE_CHUNK ? length - done : zpusbWRITE_CHUNK);
        if (sSendChunk(record, data + done, chunk, &result))
            done += (size_t)chunk;
    }
    return done < length ? aErrWrite : result;
}

static aErr sHandOut(zpusb* record, uint8_t* byte)
{
    *byte = *record->next++;
    record->unread--;
    return aErrNone;
}

aErr zpusb_get_from_USBlib_device(zpusb* record, uint8_t* byte)
{
    if (record->mode == zpusbModeKernel)
        return aErrMode;
    if (record->unread > 0)
        return sHandOut(record, byte);
    const int32_t state = zpusb_load_state(record);
    if (state != zpusbStateOpen)
        return sStateError(state);

    int got = 0;
    int rc = libusb_bulk_transfer(record->handle, record->inEndpoint, record->receiveBuffer,
                                  zpusbREAD_SIZE, &got, sREAD_TIMEOUT_MS);
    switch (rc) {
    case LIBUSB_SUCCESS:
    case LIBUSB_ERROR_TIMEOUT:
        if (got <= 0)
            return aErrNotReady;
        record->unread = got;
        record->next = record->receiveBuffer;
        return sHandOut(record, byte);
    case LIBUSB_ERROR_PIPE:
        libusb_clear_halt(record->handle, record->inEndpoint);
        return aErrNotReady;
    default:
        zpusb_store_state(record, zpusbStateFailed);
        return aErrIO;
    }
}

aErr zpusb_close_zepric_USBlib_device(zpusb* record)
{
    if (record->mode == zpusbModeKernel || !record->handle)
        return aErrMode;
    int released = libusb_release_interface(record->handle, record->interfaceNumber);
    if (released != LIBUSB_SUCCESS)
        printf("error release %d\n", released);
    sForgetHandle(record);
    zpusb_store_state(record, zpusbStateClosed);
    record->interfaceNumber = 0;
    record->outEndpoint = 0;
    record->inEndpoint = 0;
    return aErrNone;
}
