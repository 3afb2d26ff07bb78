#include "aVersion.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct sFeature {
    const char* name;
    const char* description;
} sFeature;

static const sFeature FEATS[] = {
    {"VERSION", "Version Query API"},
};
static const size_t NUM_FEATS = sizeof(FEATS) / sizeof(FEATS[0]);

static const char FEATURE_SEPARATOR[] = " - ";

uint8_t aVersion_GetMajor(void) {
    return aVERSION_MAJOR;
}

uint8_t aVersion_GetMinor(void) {
    return aVERSION_MINOR;
}

uint8_t aVersion_GetPatch(void) {
    return aVERSION_PATCH;
}

const char* aVersion_GetString(void) {
    // A function-local static is built exactly once even when several threads
    // ask for it first at the same time.
    static const struct sVersionText {
        char text[15];
        sVersionText() {
            snprintf(text, sizeof(text), "%d.%d%s%d", aVERSION_MAJOR, aVERSION_MINOR, aVERSION_PHASE,
                     aVERSION_PATCH);
        }
    } version;
    return version.text;
}

uint32_t aVersion_Pack(uint32_t major, uint32_t minor, uint32_t patch) {
    return ((major & 0xFu) << 28) | ((minor & 0xFu) << 24) | (patch & 0xFFFFFFu);
}

uint32_t aVersion_ParseMajor(uint32_t packed) {
    return packed >> 28;
}

uint32_t aVersion_ParseMinor(uint32_t packed) {
    return (packed >> 24) & 0xFu;
}

uint32_t aVersion_ParsePatch(uint32_t packed) {
    return packed & 0xFFFFFFu;
}

int aVersion_ParseString(uint32_t packed, char* buf, size_t size) {
    if (buf == nullptr && size > 0) {
        return -1;
    }
    return snprintf(buf, size, "%u.%u.%u", aVersion_ParseMajor(packed), aVersion_ParseMinor(packed),
                    aVersion_ParsePatch(packed));
}

bool aVersion_IsAtLeastCompare(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t b1, uint8_t b2, uint8_t b3) {
    if (a1 != b1) {
        return a1 > b1;
    }
    if (a2 != b2) {
        return a2 > b2;
    }
    return a3 >= b3;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return aVersion_IsAtLeastCompare(aVERSION_MAJOR, aVERSION_MINOR, aVERSION_PATCH, major, minor, patch);
}

bool aVersion_HasFeature(const char* name) {
    if (name == nullptr) {
        return false;
    }
    for (size_t i = 0; i < NUM_FEATS; i++) {
        if (strcmp(FEATS[i].name, name) == 0) {
            return true;
        }
    }
    return false;
}

char* aVersion_GetFeatureList(void) {
    size_t length = 1;
    for (size_t i = 0; i < NUM_FEATS; i++) {
        length += strlen(FEATS[i].name) + strlen(FEATURE_SEPARATOR) + strlen(FEATS[i].description);
    }
    char* list = static_cast<char*>(malloc(length));
    if (list == nullptr) {
        return nullptr;
    }
    list[0] = '\0';
    for (size_t i = 0; i < NUM_FEATS; i++) {
        strcat(list, FEATS[i].name);
        strcat(list, FEATURE_SEPARATOR);
        strcat(list, FEATS[i].description);
    }
    return list;
}

aErr aVersion_DestroyFeatureList(char** list) {
    if (list == nullptr || *list == nullptr) {
        return aErrParam;
    }
    free(*list);
    *list = nullptr;
    return aErrNone;
}
