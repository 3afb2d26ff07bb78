#include "aStream.h"

#include <stdlib.h>
#include <string.h>

#define aSTREAMCHECK 0x4321

struct aStream {
  aStreamGetProc get;
  aStreamPutProc put;
  aStreamWriteProc write;
  aStreamDeleteProc del;
  void* ref;
  // Look-ahead ring: bytes read but handed back, delivered before any new byte.
  uint8_t* buffer;
  uint32_t count;
  uint64_t capacity;
  uint64_t head;
  uint64_t tail;
  uint16_t check;
};

// Reads of up to this many bytes collect into the stack instead of the heap, since the link
// engine reads one byte at a time.
#define sSMALLREAD 64

static bool sValidStream(const aStream* stream) {
  return stream != NULL && stream->check == aSTREAMCHECK;
}

static bool sStreamGetBufferedChar(aStream* stream, uint8_t* byte) {
  if (stream->count == 0) return false;
  *byte = stream->buffer[stream->head];
  stream->head = (stream->head + 1) % stream->capacity;
  stream->count--;
  return true;
}

static aErr sStreamGrowBuffer(aStream* stream) {
  uint64_t capacity = stream->capacity + aSTREAMBUFCHUNK;
  uint8_t* grown = (uint8_t*)malloc(capacity);
  if (grown == NULL) return aErrMemory;
  // Unroll the ring so that the oldest byte lands at index 0.
  for (uint32_t i = 0; i < stream->count; i++)
    grown[i] = stream->buffer[(stream->head + i) % stream->capacity];
  free(stream->buffer);
  stream->buffer = grown;
  stream->head = 0;
  stream->tail = stream->count;
  stream->capacity = capacity;
  return aErrNone;
}

aErr aStreamBufferChar(aStream* stream, uint8_t byte) {
  if (!sValidStream(stream)) return aErrParam;
  if (stream->buffer == NULL) {
    stream->buffer = (uint8_t*)malloc(aSTREAMBUFCHUNK);
    if (stream->buffer == NULL) return aErrMemory;
    stream->capacity = aSTREAMBUFCHUNK;
    stream->count = 0;
    stream->head = 0;
    stream->tail = 0;
  }
  if (stream->count >= stream->capacity - 1) {
    aErr err = sStreamGrowBuffer(stream);
    if (err != aErrNone) return err;
  }
  stream->buffer[stream->tail] = byte;
  stream->tail = (stream->tail + 1) % stream->capacity;
  stream->count++;
  return aErrNone;
}

// Hands bytes back in their order; a failing push-back loses the rest.
static void sStreamPushBack(aStream* stream, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (aStreamBufferChar(stream, bytes[i]) != aErrNone) return;
}

aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc del, void* ref) {
  aStream* stream = (aStream*)calloc(1, sizeof(aStream));
  if (stream == NULL) return NULL;
  stream->get = get;
  stream->put = put;
  stream->write = write;
  stream->del = del;
  stream->ref = ref;
  stream->check = aSTREAMCHECK;
  return stream;
}

aErr aStream_Destroy(aStream** handle) {
  if (handle == NULL) return aErrParam;
  aStream* stream = *handle;
  *handle = NULL;
  if (!sValidStream(stream)) return aErrParam;
  aErr err = aErrNone;
  if (stream->del != NULL) err = stream->del(stream->ref);
  free(stream->buffer);
  stream->check = 0;
  free(stream);
  return err;
}

aErr aStream_Read(aStream* stream, uint8_t* dst, size_t n) {
  if (!sValidStream(stream) || dst == NULL) return aErrParam;
  if (stream->get == NULL) return aErrMode;
  if (n == 0) return aErrNone;

  uint8_t small[sSMALLREAD];
  uint8_t* block = small;
  if (n > sSMALLREAD) {
    block = (uint8_t*)malloc(n);
    if (block == NULL) return aErrResource;
  }

  aErr err = aErrNone;
  size_t got = 0;
  while (got < n && err == aErrNone) {
    if (sStreamGetBufferedChar(stream, &block[got])) {
      got++;
      continue;
    }
    err = stream->get(&block[got], stream->ref);
    if (err == aErrNone) got++;
  }

  if (err == aErrNotReady) {
    // The read consumed the look-ahead buffer first, so it is empty now and the bytes go
    // back in their original order.
    sStreamPushBack(stream, block, got);
  } else if (err == aErrNone || err == aErrEOF) {
    memcpy(dst, block, got);
  }

  if (block != small) free(block);
  return err;
}

aErr aStream_Write(aStream* stream, const uint8_t* data, size_t n) {
  if (!sValidStream(stream) || data == NULL) return aErrParam;
  if (stream->write == NULL && stream->put == NULL) return aErrMode;
  if (n == 0) return aErrNone;
  if (stream->write != NULL && (n > 1 || stream->put == NULL))
    return stream->write(data, n, stream->ref);
  for (size_t i = 0; i < n; i++) {
    aErr err = stream->put(&data[i], stream->ref);
    if (err != aErrNone) return err;
  }
  return aErrNone;
}

aErr aStream_ReadRecord(aStream* stream, uint8_t* dst, size_t* len, size_t size,
                        const uint8_t* terminator, size_t termLen) {
  if (!sValidStream(stream) || dst == NULL || terminator == NULL || termLen == 0 || size == 0)
    return aErrParam;

  // Every byte taken, terminator bytes included, in arrival order: a read cut short by
  // aErrNotReady hands all of them back so that the next read sees the same input. At most
  // size stored bytes and termLen - 1 matched terminator bytes are taken before the end.
  size_t takenCap = size + termLen;
  uint8_t* taken = (uint8_t*)malloc(takenCap);
  uint8_t* record = (uint8_t*)malloc(size);
  if (taken == NULL || record == NULL) {
    free(taken);
    free(record);
    return aErrResource;
  }

  aErr err = aErrNone;
  size_t stored = 0;
  size_t matched = 0;
  size_t takenCount = 0;
  bool complete = false;
  while (err == aErrNone && !complete) {
    uint8_t byte;
    err = aStream_Read(stream, &byte, 1);
    if (err == aErrNone) {
      taken[takenCount++] = byte;
      if (byte == terminator[matched]) {
        // The match position never moves back: terminator bytes count in order even when
        // other bytes come between them.
        matched++;
        complete = matched == termLen;
      } else {
        record[stored++] = byte;
        complete = stored == size;
      }
    } else if (err == aErrEOF) {
      if (stored > 0) err = aErrNone;
      break;
    } else if (err == aErrNotReady) {
      sStreamPushBack(stream, taken, takenCount);
    }
  }

  if (err == aErrNone || err == aErrEOF) {
    memcpy(dst, record, stored);
    if (len != NULL) *len = stored;
  }
  free(taken);
  free(record);
  return err;
}

aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t n,
                         const uint8_t* terminator, size_t termLen) {
  if (!sValidStream(stream) || data == NULL || terminator == NULL || termLen == 0)
    return aErrParam;
  aErr err = aStream_Write(stream, data, n);
  if (err == aErrNone) err = aStream_Write(stream, terminator, termLen);
  return err;
}

// Both C-string reads keep one byte of dst for the terminating zero.
static aErr sReadCStringTerminated(aStream* stream, char* dst, size_t size,
                                   const uint8_t* terminator, size_t termLen) {
  if (dst == NULL || size < 2) return aErrParam;
  size_t len = 0;
  aErr err = aStream_ReadRecord(stream, (uint8_t*)dst, &len, size - 1, terminator, termLen);
  if (err == aErrNone) dst[len] = '\0';
  return err;
}

aErr aStream_ReadCString(aStream* stream, char* dst, size_t size) {
  static const uint8_t zero = 0;
  return sReadCStringTerminated(stream, dst, size, &zero, 1);
}

aErr aStream_WriteCString(aStream* stream, const char* text) {
  if (text == NULL) return aErrParam;
  static const uint8_t zero = 0;
  aErr err = aStream_Write(stream, (const uint8_t*)text, strlen(text));
  if (err == aErrNone) err = aStream_Write(stream, &zero, 1);
  return err;
}

aErr aStream_ReadCStringRecord(aStream* stream, char* dst, size_t size, const char* terminator) {
  if (terminator == NULL) return aErrParam;
  return sReadCStringTerminated(stream, dst, size, (const uint8_t*)terminator,
                                strlen(terminator));
}

aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator) {
  if (text == NULL || terminator == NULL) return aErrParam;
  return aStream_WriteRecord(stream, (const uint8_t*)text, strlen(text),
                             (const uint8_t*)terminator, strlen(terminator) + 1);
}

aErr aStream_Flush(aStream* from, aStream* to) {
  if (!sValidStream(from) || !sValidStream(to)) return aErrParam;
  if (from->get == NULL || to->put == NULL) return aErrMode;
  uint8_t byte;
  // Bytes handed back to the source are part of it: they go first.
  while (sStreamGetBufferedChar(from, &byte)) {
    aErr err = to->put(&byte, to->ref);
    if (err != aErrNone) return err;
  }
  for (;;) {
    aErr err = from->get(&byte, from->ref);
    if (err == aErrEOF) return aErrNone;
    if (err != aErrNone) return err;
    err = to->put(&byte, to->ref);
    if (err != aErrNone) return err;
  }
}
