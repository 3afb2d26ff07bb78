#ifndef _aVersion_H_
#define _aVersion_H_

#include <stddef.h>
#include <stdint.h>

#include "aError.h"

#define aVERSION_MAJOR 2
#define aVERSION_MINOR 9
#define aVERSION_PATCH 26
#define aVERSION_PHASE "."

// The link library's own version.
uint8_t aVersion_GetMajor(void);
uint8_t aVersion_GetMinor(void);
uint8_t aVersion_GetPatch(void);
// "2.9.26"; static text built on first use.
const char* aVersion_GetString(void);

// Packed firmware versions: major in bits 31..28, minor in 27..24, patch in 23..0.
// Fields wider than their slot are cut to it.
uint32_t aVersion_Pack(uint32_t major, uint32_t minor, uint32_t patch);
uint32_t aVersion_ParseMajor(uint32_t packed);
uint32_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);
// snprintf of "major.minor.patch" into buf; answers snprintf's result.
int aVersion_ParseString(uint32_t packed, char* buf, size_t size);

bool aVersion_IsAtLeastCompare(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t b1, uint8_t b2, uint8_t b3);
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

bool aVersion_HasFeature(const char* name);
// Heap text "NAME - Description" for every feature; release with
// aVersion_DestroyFeatureList. Null when memory runs out.
char* aVersion_GetFeatureList(void);
aErr aVersion_DestroyFeatureList(char** list);

#endif
