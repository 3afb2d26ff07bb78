#include <stddef.h>

#include "aStream.h"

// USB is not available in this build.
aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream) {
  if (stream == NULL || serialNumber == 0) return aErrParam;
  *stream = NULL;
  return aErrUnimplemented;
}
