#ifndef _unix_file_H_
#define _unix_file_H_

#include <stdint.h>

#include "aError.h"

#define aFILE_CHECK 0xFEED

// Opaque buffered file handle.
typedef struct aUnixFile aUnixFile;

// Open modes.
enum {
    aFileModeRead = 0,    // "rb"
    aFileModeWrite = 1,   // "wb": created or truncated
    aFileModeAppend = 2,  // "ab+": read anywhere, every write appends
};

// Seek origins.
enum {
    aSeekStart = 0,
    aSeekCurrent = 1,
    aSeekEnd = 2,
};

// True only for an existing path that is not a directory.
bool aFile_Exists(const char* path);

// Null on any failure; the caller words its own message.
aUnixFile* aFile_Open(const char* path, int32_t mode);
aErr aFile_Close(aUnixFile** file);

aErr aFile_Read(aUnixFile* file, void* buffer, uint64_t length, uint64_t* count);
aErr aFile_Write(aUnixFile* file, const void* data, uint64_t length, uint64_t* count);
// One line including its newline; aErrOverrun when the line did not fit.
aErr aFile_ReadLine(aUnixFile* file, char* buffer, uint64_t size, uint64_t* length);
aErr aFile_Printf(aUnixFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

aErr aFile_Seek(aUnixFile* file, int64_t offset, int32_t origin);
aErr aFile_GetSize(aUnixFile* file, uint64_t* size);
aErr aFile_GetPosition(aUnixFile* file, uint64_t* position);
aErr aFile_SetUnbuffered(aUnixFile* file);

aErr aFile_Delete(const char* path);

#endif
