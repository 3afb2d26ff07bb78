#include "unix_mutex.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#define aMUTEX_CHECK 0xFEEDu

struct aMutex {
    pthread_mutex_t mutex;
    char name[aMUTEX_NAME_MAX + 1];
    uint32_t check;
};

static bool sValid(const aMutex* mutex) {
    return mutex != nullptr && mutex->check == aMUTEX_CHECK;
}

aMutex* aMutex_Create(const char* name) {
    if (name == nullptr) {
        name = "";
    }
    if (strlen(name) > aMUTEX_NAME_MAX) {
        return nullptr;
    }
    aMutex* mutex = static_cast<aMutex*>(calloc(1, sizeof(aMutex)));
    if (mutex == nullptr) {
        return nullptr;
    }
    // An error-checking mutex reports self-deadlock and foreign unlocks
    // instead of hanging or corrupting the lock.
    pthread_mutexattr_t attributes;
    bool ready = pthread_mutexattr_init(&attributes) == 0;
    if (ready) {
        ready = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
                pthread_mutex_init(&mutex->mutex, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
    }
    if (!ready) {
        free(mutex);
        return nullptr;
    }
    strcpy(mutex->name, name);
    mutex->check = aMUTEX_CHECK;
    return mutex;
}

const char* aMutex_Identifier(const aMutex* mutex) {
    return sValid(mutex) ? mutex->name : nullptr;
}

static aErr sResult(int status) {
    switch (status) {
    case 0:
        return aErrNone;
    case EDEADLK:
        return aErrDuplicate;
    case EBUSY:
        return aErrBusy;
    case EPERM:
        return aErrPermission;
    default:
        return aErrUnknown;
    }
}

aErr aMutex_Lock(aMutex* mutex) {
    return sValid(mutex) ? sResult(pthread_mutex_lock(&mutex->mutex)) : aErrParam;
}

aErr aMutex_TryLock(aMutex* mutex) {
    return sValid(mutex) ? sResult(pthread_mutex_trylock(&mutex->mutex)) : aErrParam;
}

aErr aMutex_Unlock(aMutex* mutex) {
    return sValid(mutex) ? sResult(pthread_mutex_unlock(&mutex->mutex)) : aErrParam;
}

aErr aMutex_Destroy(aMutex** handle) {
    if (handle == nullptr || !sValid(*handle)) {
        return aErrParam;
    }
    aMutex* mutex = *handle;
    // Destroying a held mutex is undefined, and freeing it would leave its
    // holder unlocking freed memory: the caller keeps it and may unlock and
    // destroy again.
    if (pthread_mutex_trylock(&mutex->mutex) != 0) {
        return aErrBusy;
    }
    pthread_mutex_unlock(&mutex->mutex);
    const int status = pthread_mutex_destroy(&mutex->mutex);
    mutex->check = 0;
    free(mutex);
    *handle = nullptr;
    return status == EAGAIN ? aErrResource : sResult(status);
}
