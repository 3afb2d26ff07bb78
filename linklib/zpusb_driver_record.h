#ifndef _zpusb_driver_record_H_
#define _zpusb_driver_record_H_

// The zpusb record, shared by the dispatching layer and its two transport paths only.

#include "zpusb_driver.h"

struct libusb_context;
struct libusb_device_handle;

struct zpusb {
    int32_t mode;
    char serialText[zpusbSERIAL_TEXT_SIZE];
    int32_t descriptor;  // kernel driver node; 0 when not open
    struct libusb_context* context;
    struct libusb_device_handle* handle;
    int32_t state;
    uint8_t interfaceNumber;
    uint8_t outEndpoint;
    uint8_t inEndpoint;
    uint8_t receiveBuffer[zpusbREAD_SIZE];
    int32_t unread;
    const uint8_t* next;
};

// The reading and the writing thread may both fail the record and test its state, so every
// access to the state is atomic.
static inline int32_t zpusb_load_state(const zpusb* record)
{
    return __atomic_load_n(&record->state, __ATOMIC_RELAXED);
}

static inline void zpusb_store_state(zpusb* record, int32_t state)
{
    __atomic_store_n(&record->state, state, __ATOMIC_RELAXED);
}

// Copies text into the record's serial field; false when it does not fit.
bool zpusb_store_serial_text(zpusb* record, const char* text);

aErr zpusb_open_zepric_USBlib_device(zpusb* record, const char* serialText);
aErr zpusb_write_to_USBlib_device(zpusb* record, const uint8_t* data, size_t length);
aErr zpusb_get_from_USBlib_device(zpusb* record, uint8_t* byte);
aErr zpusb_close_zepric_USBlib_device(zpusb* record);

aErr zpusb_open_zepric_kernel_device(zpusb* record, const char* serialText);
aErr zpusb_write_to_kernel_device(zpusb* record, const uint8_t* data, size_t length);
aErr zpusb_get_from_kernel_device(zpusb* record, uint8_t* byte);
aErr zpusb_close_zepric_kernel_device(zpusb* record);

#endif
