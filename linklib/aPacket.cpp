#include "aPacket.h"

#include <stdlib.h>
#include <string.h>

aPacket* aPacket_Create(void) {
    static const aPacket PACK = {aPACKET_CHECK, 0, 0, 0, {0}};
    aPacket* packet = static_cast<aPacket*>(malloc(sizeof(aPacket)));
    if (packet != nullptr) {
        *packet = PACK;
    }
    return packet;
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    // A longer length would copy past the payload; refusing it keeps the record sound.
    if (length > aPACKET_MAX_DATA || (length > 0 && data == nullptr)) {
        return nullptr;
    }
    aPacket* packet = aPacket_Create();
    if (packet != nullptr) {
        packet->address = address;
        packet->length = length;
        if (length > 0) {
            memcpy(packet->data, data, length);
        }
        packet->received = static_cast<uint8_t>(length + 2);
    }
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    if (!aVALIDPACKET(packet) || packet->length > aPACKET_MAX_DATA) {
        return nullptr;
    }
    return aPacket_CreateWithData(packet->address, packet->length, packet->data);
}

// Payload byte at position, once the packet is known to be long enough.
static aErr sPayloadByte(const aPacket* packet, uint8_t position, uint8_t mask, uint8_t* out) {
    if (out == nullptr) {
        return aErrParam;
    }
    if (!aVALIDPACKET(packet) || packet->length <= position) {
        return aErrPacket;
    }
    *out = packet->data[position] & mask;
    return aErrNone;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command) {
    return sPayloadByte(packet, 0, 0xFF, command);
}

aErr aPacket_GetOption(const aPacket* packet, uint8_t* option) {
    return sPayloadByte(packet, 1, 0x3F, option);
}

aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index) {
    return sPayloadByte(packet, 2, 0x1F, index);
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aVALIDPACKET(packet)) {
        return aErrParam;
    }
    packet->received = 0;
    packet->address = 0;
    packet->length = 0;
    memset(packet->data, 0, sizeof(packet->data));
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
    if (!aVALIDPACKET(packet)) {
        return aErrParam;
    }
    // Saturate so that a caller that keeps feeding a broken record can never
    // wrap the count back into the valid range.
    if (packet->received < UINT8_MAX) {
        packet->received++;
    }
    if (packet->received > aPACKET_MAX_SIZE) {
        return aErrOverrun;
    }
    if (packet->address == 0) {
        // Odd addresses are link control bytes, never module addresses.
        if (byte == 0 || (byte & 1) != 0) {
            return aErrPacket;
        }
        packet->address = byte;
        return aErrNone;
    }
    // The length is the byte right after the address. Telling it by position
    // rather than by a zero length keeps a byte after a complete empty packet
    // from being taken as a new length.
    if (packet->received == 2) {
        packet->length = byte;
        return byte > aPACKET_MAX_DATA ? aErrPacket : aErrNone;
    }
    if (packet->length > aPACKET_MAX_DATA || packet->received > packet->length + 2) {
        return aErrPacket;
    }
    packet->data[packet->received - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    return aVALIDPACKET(packet) && packet->received == packet->length + 2;
}

aErr aPacket_Destroy(aPacket** packet) {
    if (packet == nullptr || *packet == nullptr) {
        return aErrParam;
    }
    (*packet)->check = 0;
    free(*packet);
    *packet = nullptr;
    return aErrNone;
}
