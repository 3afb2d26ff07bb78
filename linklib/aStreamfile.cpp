#include "aStream.h"
#include "unix_file.h"

// The file handle itself is the stream's reference.

static aErr sFileGet(uint8_t* byte, void* ref) {
  if (ref == NULL) return aErrIO;
  return aFile_Read((aUnixFile*)ref, byte, 1, NULL);
}

static aErr sFileWrite(const uint8_t* data, size_t length, void* ref) {
  if (ref == NULL) return aErrIO;
  return aFile_Write((aUnixFile*)ref, data, length, NULL);
}

static aErr sFilePut(const uint8_t* byte, void* ref) {
  return sFileWrite(byte, 1, ref);
}

static aErr sFileDelete(void* ref) {
  if (ref == NULL) return aErrIO;
  aUnixFile* file = (aUnixFile*)ref;
  return aFile_Close(&file);
}

static aErr sStreamCreateFile(const char* path, int32_t mode, bool output, aStream** stream) {
  if (path == NULL || stream == NULL) return aErrResource;
  aUnixFile* file = aFile_Open(path, mode);
  if (file == NULL) return aErrResource;
  aStream* made = output ? aStream_Create(NULL, sFilePut, sFileWrite, sFileDelete, file)
                         : aStream_Create(sFileGet, NULL, NULL, sFileDelete, file);
  if (made == NULL) {
    aFile_Close(&file);
    return aErrResource;
  }
  *stream = made;
  return aErrNone;
}

aErr aStream_CreateFileInput(const char* path, aStream** stream) {
  return sStreamCreateFile(path, aFileModeRead, false, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStream** stream) {
  return sStreamCreateFile(path, aFileModeWrite, true, stream);
}
