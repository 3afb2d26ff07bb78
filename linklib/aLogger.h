#ifndef _aLogger_H_
#define _aLogger_H_

#include <stdint.h>

#include "aError.h"
#include "unix_file.h"

#define aLOGGER_CHECK 0xDEED

// Opaque background logger.
typedef struct aLogger aLogger;

// Runs over and over on the logger thread; it must do its own waiting and
// return within a bounded time so that aLogger_Disable can finish.
typedef void (*aLoggerCallback)(aUnixFile* file, uint32_t reference);

// Opens path for appending, unbuffered. Null on failure or without a callback.
aLogger* aLogger_Create(uint32_t reference, aLoggerCallback callback, const char* path);
aErr aLogger_Enable(aLogger* logger);
aErr aLogger_Disable(aLogger* logger);
aErr aLogger_Destroy(aLogger** logger);

#endif
