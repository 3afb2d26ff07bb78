#ifndef _unix_mutex_H_
#define _unix_mutex_H_

#include "aError.h"

#define aMUTEX_NAME_MAX 255

// Opaque named mutex; it is not recursive.
typedef struct aMutex aMutex;

// Null for a name of more than aMUTEX_NAME_MAX characters or on failure.
aMutex* aMutex_Create(const char* name);
const char* aMutex_Identifier(const aMutex* mutex);
// aErrDuplicate when the caller already holds it.
aErr aMutex_Lock(aMutex* mutex);
// aErrBusy when held by anyone.
aErr aMutex_TryLock(aMutex* mutex);
// aErrPermission when the caller does not hold it.
aErr aMutex_Unlock(aMutex* mutex);
// aErrBusy (and the mutex kept) while someone holds it.
aErr aMutex_Destroy(aMutex** mutex);

#endif
