#ifndef _aDirectory_H_
#define _aDirectory_H_

#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#define aDIR_PATH_SEP "/"

// One entry handed to an aDirectory_List callback; path is valid only during the call.
typedef struct aDirectoryListData {
    const char* path;
    int32_t size;
    uint32_t isDirectory;  // 1 for a directory, else 0
} aDirectoryListData;

// Answer false to end the listing early.
typedef bool (*aDirectoryListProc)(const aDirectoryListData* data, void* ref);

bool aDirectory_Exists(const char* path);
// Creates path and every missing parent with the given permission bits.
aErr aDirectory_Ensure(const char* path, uint32_t mode);
// Every entry, "." and ".." included, in the system's order.
aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref);
aErr aDirectory_Delete(const char* path);
aErr aDirectory_DeleteTree(const char* path);

aErr aDirectory_CWD(char* buffer, size_t size);
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);
// The user database's home directory, else HOME; aErrNotFound (empty text)
// when neither names one.
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);

aErr aDirectory_JoinPath(char* destination, size_t size, const char* first, const char* second);
// Joins up to ten components; the list ends with a null argument.
aErr aDirectory_BuildPath(char* destination, size_t size, const char* first, ...);

#endif
