#ifndef _aPacket_H_
#define _aPacket_H_

#include <stdint.h>

#include "aError.h"

#define aPACKET_CHECK 0xBEEF
#define aPACKET_MAX_DATA 28
// Address byte + length byte + payload.
#define aPACKET_MAX_SIZE (aPACKET_MAX_DATA + 2)

// One link packet. The fields are public because the link engine writes the
// serial form (address, length, data) straight from the record.
typedef struct aPacket {
    uint16_t check;    // aPACKET_CHECK while valid
    uint8_t received;  // bytes assembled so far, header included
    uint8_t address;   // 0 until the address byte arrived
    uint8_t length;    // payload bytes, 0..aPACKET_MAX_DATA
    uint8_t data[aPACKET_MAX_DATA];
} aPacket;

#define aVALIDPACKET(p) ((p) != nullptr && (p)->check == aPACKET_CHECK)

aPacket* aPacket_Create(void);
// Null when memory runs out, when length exceeds aPACKET_MAX_DATA, or when
// data is null with a non-zero length.
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
aPacket* aPacket_Copy(const aPacket* packet);

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command);
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

aErr aPacket_Reset(aPacket* packet);
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
bool aPacket_IsComplete(const aPacket* packet);

aErr aPacket_Destroy(aPacket** packet);

#endif
