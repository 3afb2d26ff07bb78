#ifndef aSTREAM_H
#define aSTREAM_H

// Byte streams: the link library's one abstraction of a transport. A stream is four
// transport operations (get one byte, put one byte, write a block, delete) over an untyped
// transport reference, plus a look-ahead buffer so that reads can be all-or-nothing.
//
// aErrNotReady from any read means "no byte yet, try again later"; it is never a failure.
// No operation takes a lock: one thread may read a stream while another writes it, but two
// threads must not read (or write) the same stream at once.

#include <stddef.h>
#include <stdint.h>

#include "aError.h"

typedef struct aStream aStream;

// Transport operations. Every stream that has write also has put: single bytes always go
// through put.
typedef aErr (*aStreamGetProc)(uint8_t* byte, void* ref);
typedef aErr (*aStreamPutProc)(const uint8_t* byte, void* ref);
typedef aErr (*aStreamWriteProc)(const uint8_t* data, size_t length, void* ref);
typedef aErr (*aStreamDeleteProc)(void* ref);

// Character size and stop bits of a serial stream.
enum aSerial_Bits { aSerial_8Bits = 0, aSerial_7Bits = 1 };
enum aSerial_Stop_bits { aSerial_1StopBit = 0, aSerial_2StopBits = 1 };

// Serial baud-rate indices.
enum {
  aSerial_Baud2400 = 0,
  aSerial_Baud4800 = 1,
  aSerial_Baud9600 = 2,
  aSerial_Baud19200 = 3,
  aSerial_Baud38400 = 4,
  aSerial_Baud57600 = 5,
  aSerial_Baud115200 = 6,
  aSerial_Baud230400 = 7
};

// Growth step of the look-ahead buffer, in bytes.
#define aSTREAMBUFCHUNK 512

// Construction and destruction. The caller owns what the create functions hand out;
// aStream_Destroy runs the transport's delete and always sets *stream to null.
aStream* aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                        aStreamDeleteProc del, void* ref);
aErr aStream_Destroy(aStream** stream);

// Files through aFile_*: input streams have get only, output streams put and write.
aErr aStream_CreateFileInput(const char* path, aStream** stream);
aErr aStream_CreateFileOutput(const char* path, aStream** stream);

// Serial port in raw mode. baud is one of the aSerial_Baud indices, bits an aSerial_Bits,
// stopBits an aSerial_Stop_bits; parity selects even parity.
aErr aStream_CreateSerial(const char* port, int32_t baud, bool parity, int32_t bits,
                          int32_t stopBits, aStream** stream);

// TCP connection to an IPv4 address (network byte order) and port (host order).
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream);

// Connection to the module on USB with that serial number.
aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream);

// Reads exactly n bytes or none: when fewer have arrived the answer is aErrNotReady and the
// bytes read so far come first on the next read. At the end of a file the answer is aErrEOF
// with the bytes before the end in dst.
aErr aStream_Read(aStream* stream, uint8_t* dst, size_t n);
aErr aStream_Write(aStream* stream, const uint8_t* data, size_t n);

// Pushes one byte back into the look-ahead buffer; it comes out before any newer byte.
aErr aStreamBufferChar(aStream* stream, uint8_t byte);

// Records end at the terminator's bytes (matched in order, possibly with other bytes between
// them) or after size bytes. *len (if given) receives the number of bytes stored in dst.
aErr aStream_ReadRecord(aStream* stream, uint8_t* dst, size_t* len, size_t size,
                        const uint8_t* terminator, size_t termLen);
aErr aStream_WriteRecord(aStream* stream, const uint8_t* data, size_t n,
                         const uint8_t* terminator, size_t termLen);

// C strings: dst of size bytes receives at most size - 1 characters and a terminating zero.
aErr aStream_ReadCString(aStream* stream, char* dst, size_t size);
aErr aStream_WriteCString(aStream* stream, const char* text);
aErr aStream_ReadCStringRecord(aStream* stream, char* dst, size_t size, const char* terminator);
aErr aStream_WriteCStringRecord(aStream* stream, const char* text, const char* terminator);

// Copies bytes from one stream to the other until the source ends (aErrNone) or fails.
aErr aStream_Flush(aStream* from, aStream* to);

#endif
