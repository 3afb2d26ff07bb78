#ifndef _aError_H_
#define _aError_H_

#include <stdint.h>

// Result code of every link-library and object-API operation. The numbers are
// also the error codes modules put on the wire, so they must never be renumbered.
typedef enum aErr : int32_t {
    aErrNone = 0,
    aErrMemory = 1,
    aErrParam = 2,
    aErrNotFound = 3,
    aErrFileNameLength = 4,
    aErrBusy = 5,
    aErrIO = 6,
    aErrMode = 7,
    aErrWrite = 8,
    aErrRead = 9,
    aErrEOF = 10,
    aErrNotReady = 11,
    aErrPermission = 12,
    aErrRange = 13,
    aErrSize = 14,
    aErrOverrun = 15,
    aErrParse = 16,
    aErrConfiguration = 17,
    aErrTimeout = 18,
    aErrInitialization = 19,
    aErrVersion = 20,
    aErrUnimplemented = 21,
    aErrDuplicate = 22,
    aErrCancel = 23,
    aErrPacket = 24,
    aErrConnection = 25,
    aErrIndexRange = 26,
    aErrShortCommand = 27,
    aErrInvalidEntity = 28,
    aErrInvalidOption = 29,
    aErrResource = 30,
    aErrMedia = 31,
    aErrAsyncReturn = 32,
    aErrStreamStale = 33,
    aErrUnknown = 34
} aErr;

// Static texts, never freed by the caller. Codes outside the enumeration
// (for instance a corrupt byte from a module) map to the aErrUnknown row.
const char* aError_GetErrorText(aErr code);
const char* aError_GetErrorDescription(aErr code);

#endif
