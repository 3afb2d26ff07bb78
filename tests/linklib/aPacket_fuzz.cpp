// Feeds arbitrary bytes through packet assembly the way the receive thread
// does, and checks that every accepted packet is well formed.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "aPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    aPacket* packet = aPacket_Create();
    for (size_t i = 0; i < size; i++) {
        if (aPacket_AddByte(packet, bytes[i]) != aErrNone) {
            aPacket_Reset(packet);
            continue;
        }
        if (aPacket_IsComplete(packet)) {
            if (packet->address == 0 || (packet->address & 1) != 0 || packet->length > aPACKET_MAX_DATA) {
                abort();
            }
            aPacket* copy = aPacket_Copy(packet);
            if (copy == nullptr) {
                abort();
            }
            aPacket_Destroy(&copy);
            aPacket_Reset(packet);
        }
    }
    aPacket_Destroy(&packet);
    return 0;
}
