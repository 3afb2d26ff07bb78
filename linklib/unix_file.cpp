#include "unix_file.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "aDefs.h"

typedef enum sDirection { sNone, sReading, sWriting } sDirection;

struct aUnixFile {
    FILE* stream;
    int32_t mode;
    uint32_t check;
    // Standard I/O demands a seek between a write and a following read (and
    // back) on an update stream such as append mode; this remembers which way
    // the stream last went.
    sDirection direction;
};

static bool sValid(const aUnixFile* file) {
    return file != nullptr && file->check == aFILE_CHECK;
}

static bool sPathLengthOK(const char* path) {
    return strnlen(path, aMAX_PATH_LENGTH + 1) <= aMAX_PATH_LENGTH;
}

static bool sCanRead(const aUnixFile* file) {
    return file->mode == aFileModeRead || file->mode == aFileModeAppend;
}

static bool sCanWrite(const aUnixFile* file) {
    return file->mode == aFileModeWrite || file->mode == aFileModeAppend;
}

static void sTurn(aUnixFile* file, sDirection direction) {
    if (file->direction != sNone && file->direction != direction) {
        fseeko(file->stream, 0, SEEK_CUR);
    }
    file->direction = direction;
}

bool aFile_Exists(const char* path) {
    struct stat status;
    return path != nullptr && sPathLengthOK(path) && stat(path, &status) == 0 && !S_ISDIR(status.st_mode);
}

aUnixFile* aFile_Open(const char* path, int32_t mode) {
    static const char* const FOPEN_MODES[] = {"rb", "wb", "ab+"};
    if (path == nullptr || path[0] == '\0' || !sPathLengthOK(path) || mode < aFileModeRead ||
        mode > aFileModeAppend) {
        return nullptr;
    }
    aUnixFile* file = static_cast<aUnixFile*>(calloc(1, sizeof(aUnixFile)));
    if (file == nullptr) {
        return nullptr;
    }
    file->stream = fopen(path, FOPEN_MODES[mode]);
    if (file->stream == nullptr) {
        free(file);
        return nullptr;
    }
    if (mode == aFileModeAppend) {
        fseeko(file->stream, 0, SEEK_END);
    }
    file->mode = mode;
    file->direction = sNone;
    file->check = aFILE_CHECK;
    return file;
}

aErr aFile_Close(aUnixFile** handle) {
    if (handle == nullptr || !sValid(*handle)) {
        return aErrParam;
    }
    aUnixFile* file = *handle;
    const aErr result = fclose(file->stream) == 0 ? aErrNone : aErrIO;
    file->check = 0;
    free(file);
    *handle = nullptr;
    return result;
}

aErr aFile_Read(aUnixFile* file, void* buffer, uint64_t length, uint64_t* count) {
    if (!sValid(file) || (buffer == nullptr && length > 0)) {
        return aErrParam;
    }
    if (!sCanRead(file)) {
        return aErrMode;
    }
    sTurn(file, sReading);
    const size_t done = length > 0 ? fread(buffer, 1, length, file->stream) : 0;
    if (count != nullptr) {
        *count = done;
    }
    return (done == 0 && length > 0) ? aErrEOF : aErrNone;
}

aErr aFile_Write(aUnixFile* file, const void* data, uint64_t length, uint64_t* count) {
    if (!sValid(file) || (data == nullptr && length > 0)) {
        return aErrParam;
    }
    if (!sCanWrite(file)) {
        return aErrMode;
    }
    sTurn(file, sWriting);
    const size_t done = length > 0 ? fwrite(data, 1, length, file->stream) : 0;
    if (count != nullptr) {
        *count = done;
    }
    return (done == 0 && length > 0) ? aErrIO : aErrNone;
}

aErr aFile_ReadLine(aUnixFile* file, char* buffer, uint64_t size, uint64_t* length) {
    if (length != nullptr) {
        *length = 0;
    }
    if (!sValid(file) || buffer == nullptr || size == 0) {
        return aErrParam;
    }
    buffer[0] = '\0';
    if (!sCanRead(file)) {
        return aErrMode;
    }
    sTurn(file, sReading);
    const int limit = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    if (fgets(buffer, limit, file->stream) == nullptr) {
        buffer[0] = '\0';
        return feof(file->stream) ? aErrEOF : aErrIO;
    }
    const size_t got = strlen(buffer);
    if (length != nullptr) {
        *length = got;
    }
    if (got == static_cast<size_t>(limit) - 1 && (got == 0 || buffer[got - 1] != '\n')) {
        return aErrOverrun;
    }
    return aErrNone;
}

aErr aFile_Printf(aUnixFile* file, const char* format, ...) {
    if (!sValid(file) || format == nullptr) {
        return aErrParam;
    }
    if (!sCanWrite(file)) {
        return aErrMode;
    }
    sTurn(file, sWriting);
    va_list arguments;
    va_start(arguments, format);
    const int printed = vfprintf(file->stream, format, arguments);
    va_end(arguments);
    return printed < 0 ? aErrIO : aErrNone;
}

aErr aFile_Seek(aUnixFile* file, int64_t offset, int32_t origin) {
    if (!sValid(file)) {
        return aErrParam;
    }
    uint64_t size = 0;
    if (aFile_GetSize(file, &size) != aErrNone) {
        return aErrIO;
    }
    int64_t base = 0;
    if (origin == aSeekCurrent) {
        const off_t position = ftello(file->stream);
        if (position < 0) {
            return aErrIO;
        }
        base = position;
    } else if (origin == aSeekEnd) {
        base = static_cast<int64_t>(size);
    }
    // Refuse targets that would overflow before comparing them.
    if ((offset > 0 && base > INT64_MAX - offset) || offset + base < 0 ||
        static_cast<uint64_t>(offset + base) > size) {
        return aErrRange;
    }
    if (fseeko(file->stream, offset + base, SEEK_SET) != 0) {
        return aErrIO;
    }
    file->direction = sNone;
    return aErrNone;
}

aErr aFile_GetSize(aUnixFile* file, uint64_t* size) {
    if (!sValid(file)) {
        return aErrParam;
    }
    if (size == nullptr) {
        return aErrParam;
    }
    *size = 0;
    const off_t saved = ftello(file->stream);
    if (saved < 0 || fseeko(file->stream, 0, SEEK_END) != 0) {
        return aErrIO;
    }
    const off_t end = ftello(file->stream);
    if (fseeko(file->stream, saved, SEEK_SET) != 0 || end < 0) {
        return aErrIO;
    }
    file->direction = sNone;
    *size = static_cast<uint64_t>(end);
    return aErrNone;
}

aErr aFile_GetPosition(aUnixFile* file, uint64_t* position) {
    if (!sValid(file) || position == nullptr) {
        return aErrParam;
    }
    const off_t here = ftello(file->stream);
    if (here < 0) {
        return aErrIO;
    }
    *position = static_cast<uint64_t>(here);
    return aErrNone;
}

aErr aFile_SetUnbuffered(aUnixFile* file) {
    if (!sValid(file)) {
        return aErrParam;
    }
    if (!sCanWrite(file) || setvbuf(file->stream, nullptr, _IONBF, 0) != 0) {
        return aErrMode;
    }
    return aErrNone;
}

aErr aFile_Delete(const char* path) {
    if (path == nullptr) {
        return aErrParam;
    }
    if (!sPathLengthOK(path)) {
        return aErrFileNameLength;
    }
    if (unlink(path) == 0) {
        return aErrNone;
    }
    switch (errno) {
    case ENOENT:
        return aErrNotFound;
    case EACCES:
    case EPERM:
        return aErrPermission;
    default:
        return aErrIO;
    }
}
