#ifndef _zpusb_driver_H_
#define _zpusb_driver_H_

// Access to one module on USB, by its serial-number text. Two modes: the module's own
// kernel driver (a device node per module, plain read and write) or libusb (the vendor
// interface and its two bulk endpoints). One thread may read while another writes; open,
// close and destroy must not overlap transfers.

#include <stddef.h>
#include <stdint.h>

#include "aError.h"

struct libusb_device;

typedef struct zpusb zpusb;

// Modes. Every operation treats any non-zero mode as libusb.
enum { zpusbModeKernel = 0, zpusbModeLibusb = 1 };

// Record states.
enum {
    zpusbStateNone = 0,     // zero-filled, never created
    zpusbStateCreated = 1,  // created, not open
    zpusbStateClosed = 2,   // closed, or an open that failed after the device was found
    zpusbStateOpening = 3,  // device found, interface not yet claimed
    zpusbStateOpen = 4,     // interface claimed
    zpusbStateFailed = 5,   // a transfer failed; reopen to recover
};

// Largest IN transfer; reads hand its bytes out one at a time.
#define zpusbREAD_SIZE 800
// Largest OUT transfer.
#define zpusbWRITE_CHUNK 50
// Size of the serial-number text field, terminator included.
#define zpusbSERIAL_TEXT_SIZE 50

// True when the device descriptor can be read, the vendor is ours and bit 15 of the
// product id is clear. Discovery applies the same test.
bool is_zepric_device(struct libusb_device* device);

// True when the kernel driver's node for this serial number exists.
bool zpusb_is_kernel_driver_installed(uint32_t serialNumber);

// A new record in state 1, or null (no memory, or libusb could not be initialised).
zpusb* zpusb_create_usb(int32_t mode);
// Closes a still open libusb handle and the context, frees the record, nulls *record.
aErr zpusb_destroy(zpusb** record);

aErr zpusb_open_zepric_device(zpusb* record, const char* serialText);
aErr zpusb_write_to_device(zpusb* record, const uint8_t* data, size_t length);
// One byte; aErrNotReady when the module has sent nothing.
aErr zpusb_get_from_device(zpusb* record, uint8_t* byte);
aErr zpusb_close_zepric_device(zpusb* record);

// The record's state (zpusbStateNone for a null record).
int32_t zpusb_get_state(const zpusb* record);

#endif
