#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base64.h"

// Server answers are untrusted: any text must decode or be refused without harm, and
// anything encoded must come back unchanged.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t decodedLength = 0;
  unsigned char* decoded =
      base64_decode(reinterpret_cast<const char*>(data), size, &decodedLength);
  if (decoded != nullptr) {
    if (decodedLength > size / 4 * 3 || decoded[decodedLength] != 0) abort();
    free(decoded);
  }

  size_t encodedLength = 0;
  char* encoded = base64_encode(data, size, &encodedLength);
  if (encoded == nullptr) return 0;
  unsigned char* back = base64_decode(encoded, encodedLength, &decodedLength);
  if (back == nullptr || decodedLength != size || (size > 0 && memcmp(back, data, size) != 0))
    abort();
  free(back);
  free(encoded);
  return 0;
}
