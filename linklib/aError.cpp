#include "aError.h"

static const char* const ERROR_TEXT[] = {
    "aErrNone",          "aErrMemory",        "aErrParam",          "aErrNotFound",
    "aErrFileNameLength", "aErrBusy",         "aErrIO",             "aErrMode",
    "aErrWrite",         "aErrRead",          "aErrEOF",            "aErrNotReady",
    "aErrPermission",    "aErrRange",         "aErrSize",           "aErrOverrun",
    "aErrParse",         "aErrConfiguration", "aErrTimeout",        "aErrInitialization",
    "aErrVersion",       "aErrUnimplemented", "aErrDuplicate",      "aErrCancel",
    "aErrPacket",        "aErrConnection",    "aErrIndexRange",     "aErrShortCommand",
    "aErrInvalidEntity", "aErrInvalidOption", "aErrResource",       "aErrMedia",
    "aErrAsyncReturn",   "aErrStreamStale",   "aErrUnknown",
};

static const char* const ERROR_DESCRIPTION[] = {
    "Success, no error",
    "Memory allocation",
    "Invalid parameter",
    "Not found",
    "File name too long",
    "Resource busy",
    "Input/Output error",
    "Invalid Mode",
    "Write error",
    "Read error",
    "End of file",
    "Not ready, no bytes available",
    "Insufficient permissions",
    "Value out of range",
    "Invalid Size",
    "Buffer/queue overrun",
    "Parse error",
    "Configuration error",
    "Timeout occurred",
    "Initialization error",
    "Invalid version",
    "Functionality unimplemented",
    "Duplicate request",
    "Cancelation occurred, or did not complete",
    "Packet byte invalid",
    "Connection error",
    "Index out of range",
    "Zepric command to short",
    "Invalid entity error",
    "Invalid option code",
    "Resource unavailable",
    "Media error",
    "Asynchronous return error",
    "Stream value is stale",
    "Unknown error",
};

static_assert(sizeof(ERROR_TEXT) / sizeof(ERROR_TEXT[0]) == aErrUnknown + 1,
              "one name per error code");
static_assert(sizeof(ERROR_DESCRIPTION) / sizeof(ERROR_DESCRIPTION[0]) == aErrUnknown + 1,
              "one description per error code");

static int32_t sRow(aErr code) {
    return (code < aErrNone || code > aErrUnknown) ? aErrUnknown : code;
}

const char* aError_GetErrorText(aErr code) {
    return ERROR_TEXT[sRow(code)];
}

const char* aError_GetErrorDescription(aErr code) {
    return ERROR_DESCRIPTION[sRow(code)];
}
