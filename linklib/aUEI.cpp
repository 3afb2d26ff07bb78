#include "aUEI.h"

#include <string.h>

uint16_t aUEI_RetrieveShort(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void aUEI_StoreShort(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

uint32_t aUEI_RetrieveInt(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

void aUEI_StoreInt(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

void aUEI_ModifyIntBuffer(void* buffer, size_t count) {
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < count; i++, bytes += 4) {
        const uint32_t value = aUEI_RetrieveInt(bytes);
        memcpy(bytes, &value, sizeof(value));
    }
}
