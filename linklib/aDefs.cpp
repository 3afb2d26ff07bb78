#include "aDefs.h"

#include <stddef.h>

typedef struct sModelName {
    uint32_t model;
    const char* name;
} sModelName;

static const sModelName MODEL_NAMES[] = {
    {4, "Larkel"},   {5, "Marrin"},  {13, "Nettor"},  {14, "Orvel"},   {15, "Pellin"},
    {16, "Quorby"},  {17, "Rushel"}, {18, "Sallin"},  {19, "Tamsel"},  {20, "Umbrin"},
    {21, "Vetchel"}, {22, "Wherrin"}, {23, "Yarrel"}, {24, "Zennel"},
};

const char* aDefs_GetModelName(uint32_t model) {
    for (const sModelName& entry : MODEL_NAMES) {
        if (entry.model == model) {
            return entry.name;
        }
    }
    return "Unknown";
}
