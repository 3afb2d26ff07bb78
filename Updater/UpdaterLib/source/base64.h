#pragma once

#include <cstddef>

// Standard base64 (A-Z a-z 0-9 + /, "=" as fill). Both answer buffers from malloc that
// the caller releases with free().

// The decoded bytes followed by one zero byte, their count in out_length; null when the
// text is not base64: a length that is not a multiple of 4, a character outside the
// alphabet, or fill anywhere but in the last two places.
unsigned char* base64_decode(const char* text, size_t length, size_t* out_length);

// Zero-terminated text of 4 * ceil(length / 3) characters; null when memory runs out.
char* base64_encode(const unsigned char* data, size_t length, size_t* out_length);
