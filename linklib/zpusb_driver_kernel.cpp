// The module's own kernel driver offers one character device per module; bytes pass
// through plain read and write calls.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "zpusb_driver_record.h"

// Bounds a write against a driver that keeps accepting nothing.
#define sKERNEL_WRITE_CALLS 1000

aErr zpusb_open_zepric_kernel_device(zpusb* record, const char* serialText)
{
    if (record->mode != zpusbModeKernel)
        return aErrMode;
    if (!zpusb_store_serial_text(record, serialText))
        return aErrParam;
    char path[sizeof("/dev/zepric.") + zpusbSERIAL_TEXT_SIZE];
    snprintf(path, sizeof(path), "/dev/zepric.%s", record->serialText);
    int fd = open(path, O_RDWR);
    if (fd < 0)
        return errno == EBUSY ? aErrBusy : aErrIO;
    record->descriptor = fd;
    return aErrNone;
}

aErr zpusb_write_to_kernel_device(zpusb* record, const uint8_t* data, size_t length)
{
    if (record->mode != zpusbModeKernel || record->descriptor <= 0)
        return aErrMode;
    size_t sent = 0;
    for (int call = 0; call < sKERNEL_WRITE_CALLS && sent < length; call++) {
        ssize_t written = write(record->descriptor, data + sent, length - sent);
        if (written < 0)
            return aErrIO;
        sent += (size_t)written;
    }
    return sent == length ? aErrNone : aErrIO;
}

aErr zpusb_get_from_kernel_device(zpusb* record, uint8_t* byte)
{
    if (record->mode != zpusbModeKernel || record->descriptor <= 0)
        return aErrMode;
    ssize_t got = read(record->descriptor, byte, 1);
    if (got == 1)
        return aErrNone;
    if (got == 0)
        return aErrNotReady;
    // The driver answers EFAULT when no byte is waiting.
    return errno == EFAULT ? aErrNotReady : aErrIO;
}

aErr zpusb_close_zepric_kernel_device(zpusb* record)
{
    if (record->mode != zpusbModeKernel)
        return aErrMode;
    if (record->descriptor <= 0)
        return aErrNone;
    // Linux releases the descriptor even when close reports a failure, so it is forgotten
    // either way: closing it again later could hit a descriptor reused by someone else.
    int closed = close(record->descriptor);
    record->descriptor = 0;
    if (closed != 0)
        return aErrCancel;
    zpusb_store_state(record, zpusbStateClosed);
    return aErrNone;
}
