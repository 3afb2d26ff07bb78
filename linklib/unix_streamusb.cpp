#include <stdio.h>
#include <stdlib.h>

#include "aStream.h"
#include "zpusb_driver.h"

#define aUSBSTREAMCHECK 0xDEAD

typedef struct aUnixUSBStream {
  uint32_t serialNumber;
  zpusb* usb;
  uint16_t check;
} aUnixUSBStream;

static aUnixUSBStream* sValidUSBStream(void* ref) {
  aUnixUSBStream* stream = (aUnixUSBStream*)ref;
  return (stream != NULL && stream->check == aUSBSTREAMCHECK) ? stream : NULL;
}

static aErr sUSBStreamGet(uint8_t* byte, void* ref) {
  aUnixUSBStream* stream = sValidUSBStream(ref);
  if (stream == NULL) return aErrParam;
  return zpusb_get_from_device(stream->usb, byte);
}

static aErr sUSBStreamPut(const uint8_t* byte, void* ref) {
  aUnixUSBStream* stream = sValidUSBStream(ref);
  if (stream == NULL) return aErrParam;
  return zpusb_write_to_device(stream->usb, byte, 1);
}

static aErr sUSBStreamWrite(const uint8_t* data, size_t length, void* ref) {
  aUnixUSBStream* stream = sValidUSBStream(ref);
  if (stream == NULL) return aErrParam;
  return zpusb_write_to_device(stream->usb, data, length);
}

static aErr sUSBStreamDelete(void* ref) {
  aUnixUSBStream* stream = sValidUSBStream(ref);
  if (stream == NULL) return aErrParam;
  aErr closed = zpusb_close_zepric_device(stream->usb);
  zpusb_destroy(&stream->usb);
  stream->check = 0;
  free(stream);
  return closed;
}

// Undoes a creation that got as far as an open device. Closing first matters in
// kernel-driver mode, where destroying the handle alone would leave the node open.
static void sDiscardOpened(aUnixUSBStream* stream) {
  zpusb_close_zepric_device(stream->usb);
  zpusb_destroy(&stream->usb);
  free(stream);
}

aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream) {
  if (stream == NULL || serialNumber == 0) return aErrParam;
  *stream = NULL;
  bool kernelDriver = zpusb_is_kernel_driver_installed(serialNumber);
  aUnixUSBStream* usbStream = (aUnixUSBStream*)calloc(1, sizeof(aUnixUSBStream));
  if (usbStream == NULL) return aErrMemory;
  usbStream->serialNumber = serialNumber;
  usbStream->check = aUSBSTREAMCHECK;

  char serialText[9];
  snprintf(serialText, sizeof(serialText), "%08X", serialNumber);
  usbStream->usb = zpusb_create_usb(kernelDriver ? zpusbModeKernel : zpusbModeLibusb);
  if (usbStream->usb == NULL) {
    free(usbStream);
    return aErrResource;
  }
  aErr opened = zpusb_open_zepric_device(usbStream->usb, serialText);
  if (opened != aErrNone) {
    zpusb_destroy(&usbStream->usb);
    free(usbStream);
    return opened;
  }
  *stream = aStream_Create(sUSBStreamGet, sUSBStreamPut, sUSBStreamWrite, sUSBStreamDelete,
                           usbStream);
  if (*stream == NULL) {
    sDiscardOpened(usbStream);
    return aErrMemory;
  }
  return aErrNone;
}
