#ifndef _aUEI_H_
#define _aUEI_H_

#include <stddef.h>
#include <stdint.h>

// Multi-byte values inside packet payloads are big-endian on every host.
uint16_t aUEI_RetrieveShort(const uint8_t* bytes);
void aUEI_StoreShort(uint8_t* bytes, uint16_t value);
uint32_t aUEI_RetrieveInt(const uint8_t* bytes);
void aUEI_StoreInt(uint8_t* bytes, uint32_t value);

// Turns count big-endian 4-byte words at buffer into host-order 32-bit
// integers in place.
void aUEI_ModifyIntBuffer(void* buffer, size_t count);

#endif
