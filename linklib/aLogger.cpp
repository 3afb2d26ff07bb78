#include "aLogger.h"

#include <pthread.h>
#include <stdlib.h>

#include <atomic>
#include <new>

struct aLogger {
    uint32_t reference;
    aLoggerCallback callback;
    aUnixFile* file;
    pthread_t thread;
    // Read by the logger thread while another thread clears it.
    std::atomic<bool> running;
    uint16_t check;
};

static bool sValid(const aLogger* logger) {
    return logger != nullptr && logger->check == aLOGGER_CHECK;
}

static void* sRunLog(void* argument) {
    aLogger* logger = static_cast<aLogger*>(argument);
    while (logger->running.load()) {
        logger->callback(logger->file, logger->reference);
    }
    return nullptr;
}

static bool sOnLoggerThread(const aLogger* logger) {
    return logger->running.load() && pthread_equal(pthread_self(), logger->thread);
}

aLogger* aLogger_Create(uint32_t reference, aLoggerCallback callback, const char* path) {
    if (callback == nullptr) {
        return nullptr;
    }
    aLogger* logger = new (std::nothrow) aLogger;
    if (logger == nullptr) {
        return nullptr;
    }
    logger->file = aFile_Open(path, aFileModeAppend);
    if (logger->file == nullptr) {
        delete logger;
        return nullptr;
    }
    aFile_SetUnbuffered(logger->file);
    logger->reference = reference;
    logger->callback = callback;
    logger->thread = pthread_self();
    logger->running.store(false);
    logger->check = aLOGGER_CHECK;
    return logger;
}

aErr aLogger_Enable(aLogger* logger) {
    if (!sValid(logger)) {
        return aErrParam;
    }
    if (logger->running.load()) {
        return aErrNone;
    }
    logger->running.store(true);
    if (pthread_create(&logger->thread, nullptr, sRunLog, logger) != 0) {
        logger->running.store(false);
        return aErrResource;
    }
    return aErrNone;
}

aErr aLogger_Disable(aLogger* logger) {
    if (!sValid(logger)) {
        return aErrParam;
    }
    // The logger thread can't join itself; it simply keeps running.
    if (!logger->running.load() || sOnLoggerThread(logger)) {
        return aErrNone;
    }
    logger->running.store(false);
    return pthread_join(logger->thread, nullptr) == 0 ? aErrNone : aErrUnknown;
}

aErr aLogger_Destroy(aLogger** handle) {
    if (handle == nullptr || !sValid(*handle)) {
        return aErrNone;
    }
    aLogger* logger = *handle;
    // The thread still runs after a Disable from itself; freeing the record
    // under it would make its next loop read freed memory.
    if (sOnLoggerThread(logger)) {
        return aErrBusy;
    }
    const aErr result = aLogger_Disable(logger);
    if (result == aErrNone) {
        aFile_Close(&logger->file);
        logger->check = 0;
        delete logger;
        *handle = nullptr;
    }
    return result;
}
