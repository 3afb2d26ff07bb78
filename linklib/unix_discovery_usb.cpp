#include <ctype.h>
#include <libusb.h>
#include <stdio.h>
#include <string.h>

#include "aDiscoveryUSB.h"
#include "zpusb_driver.h"

// A module's serial-number string is exactly this many hexadecimal digits.
#define sSERIAL_DIGITS 8
#define sSERIAL_BUFFER 32

// Parses the serial string; false unless it is exactly 8 hexadecimal digits, so that a
// malformed string can't hand out a serial number made of whatever sscanf left behind.
static bool sParseSerial(const unsigned char* text, int length, uint32_t* serialNumber) {
  if (length != sSERIAL_DIGITS) return false;
  for (int i = 0; i < length; i++)
    if (!isxdigit(text[i])) return false;
  unsigned int value = 0;
  if (sscanf((const char*)text, "%X", &value) != 1) return false;
  *serialNumber = value;
  return true;
}

// Reads the module's serial number; false when the device can't be opened or its string is
// not a module's.
static bool sReadModule(libusb_device* device, uint32_t* serialNumber, uint32_t* model) {
  libusb_device_handle* handle = NULL;
  if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return false;
  struct libusb_device_descriptor descriptor;
  unsigned char serial[sSERIAL_BUFFER];
  memset(serial, 0, sizeof(serial));
  bool found = false;
  if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
    int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial,
                                                    sizeof(serial));
    found = sParseSerial(serial, length, serialNumber);
    *model = descriptor.idProduct & 0xFF;
  }
  libusb_close(handle);
  return found;
}

// Offers one module to the callback; false when the callback asked to stop.
static bool sOffer(uint32_t serialNumber, uint32_t model, aDiscoveryModuleFoundProc callback,
                   void* ref, uint8_t* count) {
  linkSpec* spec = aLinkSpec_Create(USB);
  if (spec == NULL) return true;
  spec->serialNumber = serialNumber;
  spec->ipAddress = serialNumber;
  spec->model = model;
  bool success = false;
  bool goOn = callback(spec, &success, ref);
  if (success && *count < UINT8_MAX) (*count)++;
  aLinkSpec_Destroy(&spec);
  return goOn;
}

uint8_t aDiscovery_EnumerateUSB(aDiscoveryModuleFoundProc callback, void* ref) {
  if (callback == NULL) return 0;
  libusb_context* context = NULL;
  if (libusb_init(&context) != LIBUSB_SUCCESS) return 0;
  uint8_t count = 0;
  libusb_device** devices = NULL;
  ssize_t total = libusb_get_device_list(context, &devices);
  bool goOn = true;
  for (ssize_t d = 0; d < total && goOn; d++) {
    uint32_t serialNumber = 0;
    uint32_t model = 0;
    if (is_zepric_device(devices[d]) && sReadModule(devices[d], &serialNumber, &model))
      goOn = sOffer(serialNumber, model, callback, ref, &count);
  }
  if (total >= 0) libusb_free_device_list(devices, 1);
  libusb_exit(context);
  return count;
}
