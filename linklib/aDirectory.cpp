#include "aDirectory.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "aDefs.h"

// Components after the first that aDirectory_BuildPath accepts.
#define sMAX_FURTHER_COMPONENTS 9

static bool sIsSeparator(char c) {
    return c == aDIR_PATH_SEP[0];
}

bool aDirectory_Exists(const char* path) {
    struct stat status;
    return path != nullptr && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// "Already exists" counts only when what exists is a directory: a file in the
// way must fail rather than pass as created.
static bool sMakeDirectory(const char* path, uint32_t mode) {
    return mkdir(path, static_cast<mode_t>(mode)) == 0 || aDirectory_Exists(path);
}

aErr aDirectory_Ensure(const char* path, uint32_t mode) {
    if (path == nullptr || path[0] == '\0') {
        return aErrParam;
    }
    if (aDirectory_Exists(path)) {
        return aErrNone;
    }
    char* prefix = strdup(path);
    if (prefix == nullptr) {
        return aErrMemory;
    }
    aErr result = aErrNone;
    for (size_t i = 1; prefix[i] != '\0'; i++) {
        if (!sIsSeparator(prefix[i]) || sIsSeparator(prefix[i - 1])) {
            continue;
        }
        prefix[i] = '\0';
        const bool made = sMakeDirectory(prefix, mode);
        prefix[i] = aDIR_PATH_SEP[0];
        if (!made) {
            result = aErrPermission;
            break;
        }
    }
    free(prefix);
    if (!sMakeDirectory(path, mode)) {
        return aErrPermission;
    }
    return result;
}

aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref) {
    if (path == nullptr || callback == nullptr) {
        return aErrParam;
    }
    DIR* directory = opendir(path);
    if (directory == nullptr) {
        return aErrNotFound;
    }
    char entryPath[aPATH_BUFFER_SIZE];
    struct dirent* entry;
    while ((entry = readdir(directory)) != nullptr) {
        struct stat status;
        if (aDirectory_JoinPath(entryPath, sizeof(entryPath), path, entry->d_name) != aErrNone ||
            stat(entryPath, &status) != 0) {
            continue;
        }
        // The record's size is 32-bit: larger files show the largest size it
        // holds rather than a wrapped, possibly negative one.
        const int32_t size = status.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.st_size);
        const aDirectoryListData data = {entryPath, size, S_ISDIR(status.st_mode) ? 1u : 0u};
        if (!callback(&data, ref)) {
            break;
        }
    }
    closedir(directory);
    return aErrNone;
}

aErr aDirectory_Delete(const char* path) {
    if (path == nullptr) {
        return aErrParam;
    }
    return rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path) {
    if (path == nullptr) {
        return aErrParam;
    }
    DIR* directory = opendir(path);
    if (directory == nullptr) {
        return aErrNotFound;
    }
    char entryPath[aPATH_BUFFER_SIZE];
    struct dirent* entry;
    aErr walk = aErrNone;
    while (walk == aErrNone && (entry = readdir(directory)) != nullptr) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        struct stat status;
        // lstat: a link to a directory elsewhere is removed as a link, never
        // followed into a tree that is not ours to delete.
        if (aDirectory_JoinPath(entryPath, sizeof(entryPath), path, entry->d_name) != aErrNone ||
            lstat(entryPath, &status) != 0) {
            continue;
        }
        if (S_ISDIR(status.st_mode)) {
            walk = aDirectory_DeleteTree(entryPath);
        } else if (unlink(entryPath) != 0) {
            perror("aDirectory_DeleteTree");
            printf("---error unlink-ing file [%s]\n", entryPath);
            walk = aErrUnknown;
        }
    }
    closedir(directory);
    return aDirectory_Delete(path);
}

aErr aDirectory_CWD(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0 || getcwd(buffer, size) == nullptr) {
        return aErrParam;
    }
    return aErrNone;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return aErrParam;
    }
    const ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length < 0) {
        buffer[0] = '\0';
        return aErrRead;
    }
    buffer[length] = '\0';
    return aErrNone;
}

// Copies the user database's home directory of the real user; false when the
// user has no entry there.
static bool sUserDatabaseHome(char* buffer, size_t size) {
    size_t scratchSize = 1024;
    for (;;) {
        char* scratch = static_cast<char*>(malloc(scratchSize));
        if (scratch == nullptr) {
            return false;
        }
        struct passwd record;
        struct passwd* found = nullptr;
        const int status = getpwuid_r(getuid(), &record, scratch, scratchSize, &found);
        if (status == ERANGE && scratchSize < (1u << 20)) {
            free(scratch);
            scratchSize *= 2;
            continue;
        }
        const bool ok = status == 0 && found != nullptr && found->pw_dir != nullptr;
        if (ok) {
            snprintf(buffer, size, "%s", found->pw_dir);
        }
        free(scratch);
        return ok;
    }
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return aErrParam;
    }
    if (sUserDatabaseHome(buffer, size)) {
        return aErrNone;
    }
    const char* home = getenv("HOME");
    // Callers would build paths relative to the working directory from an
    // empty text, so its absence is reported.
    snprintf(buffer, size, "%s", home != nullptr ? home : "");
    return home != nullptr ? aErrNone : aErrNotFound;
}

aErr aDirectory_JoinPath(char* destination, size_t size, const char* first, const char* second) {
    return aDirectory_BuildPath(destination, size, first, second, nullptr);
}

aErr aDirectory_BuildPath(char* destination, size_t size, const char* first, ...) {
    if (destination == nullptr || first == nullptr || destination == first) {
        return aErrParam;
    }
    if (size > 0) {
        destination[0] = '\0';
    }
    const char* further[sMAX_FURTHER_COMPONENTS];
    size_t count = 0;
    va_list arguments;
    va_start(arguments, first);
    const char* component;
    aErr result = aErrNone;
    while ((component = va_arg(arguments, const char*)) != nullptr) {
        if (count == sMAX_FURTHER_COMPONENTS || component == destination) {
            result = aErrParam;
            break;
        }
        further[count++] = component;
    }
    va_end(arguments);
    if (result != aErrNone) {
        return result;
    }

    size_t length = strlen(first);
    if (size == 0 || length >= size - 1) {
        return aErrOverrun;
    }
    memcpy(destination, first, length + 1);
    for (size_t i = 0; i < count; i++) {
        size_t room = size - length - 1;
        // An empty text so far gets no separator: joining "" and "b" is "b", not "/b".
        if (room > 1 && length > 0 && !sIsSeparator(destination[length - 1]) &&
            !sIsSeparator(further[i][0])) {
            destination[length++] = aDIR_PATH_SEP[0];
            destination[length] = '\0';
            room--;
        }
        const size_t componentLength = strlen(further[i]);
        if (componentLength >= room) {
            return aErrOverrun;
        }
        memcpy(destination + length, further[i], componentLength + 1);
        length += componentLength;
    }
    return aErrNone;
}
