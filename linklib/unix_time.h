#ifndef _unix_time_H_
#define _unix_time_H_

#include <stdint.h>

#include "aError.h"

// Milliseconds from an arbitrary origin; only differences of two readings mean
// anything. 0 when the clock can't be read.
uint64_t aTime_GetMSTicks(void);
aErr aTime_MSSleep(uint64_t milliseconds);
void osMSSleep(uint64_t milliseconds);

#endif
