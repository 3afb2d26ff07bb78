#ifndef _aDefs_H_
#define _aDefs_H_

#include <stdint.h>

// Longest path any length-checking function accepts.
#define aMAX_PATH_LENGTH 4096
// Size of the path buffers the library builds internally.
#define aPATH_BUFFER_SIZE 2048

// Display name of a module model number; "Unknown" for numbers not in the table.
const char* aDefs_GetModelName(uint32_t model);

#endif
