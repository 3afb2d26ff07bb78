#include <stdlib.h>
#include <string.h>

#include "aDiscovery.h"

linkSpec* aLinkSpec_Create(linkType type) {
  linkSpec* spec = (linkSpec*)calloc(1, sizeof(linkSpec));
  if (spec != NULL) spec->type = type;
  return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* spec) {
  if (spec == NULL) return NULL;
  linkSpec* copy = (linkSpec*)malloc(sizeof(linkSpec));
  if (copy != NULL) memcpy(copy, spec, sizeof(linkSpec));
  return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
  if (spec == NULL || *spec == NULL) return aErrParam;
  free(*spec);
  *spec = NULL;
  return aErrNone;
}

typedef bool (*sMatchProc)(const linkSpec* spec, uint32_t wanted);

typedef struct sSearch {
  sMatchProc match;
  uint32_t wanted;
  linkSpec* found;
} sSearch;

static bool sTakeFirstMatch(const linkSpec* spec, bool* success, void* ref) {
  sSearch* search = (sSearch*)ref;
  if (!search->match(spec, search->wanted)) return true;
  *search->found = *spec;
  *success = true;
  return false;
}

static linkSpec* sFindFirst(linkType type, sMatchProc match, uint32_t wanted) {
  linkSpec* found = aLinkSpec_Create(type);
  if (found == NULL) return NULL;
  sSearch search = {match, wanted, found};
  if (aDiscovery_EnumerateModules(type, sTakeFirstMatch, &search) == 0)
    aLinkSpec_Destroy(&found);
  return found;
}

static bool sSerialEquals(const linkSpec* spec, uint32_t serialNumber) {
  return spec->serialNumber == serialNumber;
}

static bool sHasSerial(const linkSpec* spec, uint32_t unused) {
  (void)unused;
  return spec->serialNumber != 0;
}

static bool sModelFits(const linkSpec* spec, uint32_t model) {
  return model == 0 || spec->model == model;
}

linkSpec* aDiscovery_FindModule(linkType type, uint32_t serialNumber) {
  return sFindFirst(type, sSerialEquals, serialNumber);
}

linkSpec* aDiscovery_FindFirstModule(linkType type) {
  return sFindFirst(type, sHasSerial, 0);
}

linkSpec* aDiscovery_FindModuleByModel(linkType type, uint32_t model) {
  return sFindFirst(type, sModelFits, model);
}
