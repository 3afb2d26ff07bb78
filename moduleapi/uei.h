#pragma once

#include <cstdint>

namespace Halvik {
namespace Zepric {

// Width of the value a UEI record carries; the numbers are the byte counts on the wire,
// except that 0 means no value at all.
enum ueiType : uint32_t {
  ueiTypeNone = 0,
  ueiTypeByte = 1,
  ueiTypeShort = 2,
  ueiTypeInt = 4,
};

// Option byte bits of a request; a reply to a write echoes the option with both set.
constexpr uint8_t ueiOPTION_GET = 0x40;
constexpr uint8_t ueiOPTION_SET = 0x80;
constexpr uint8_t ueiOPTION_SET_REPLY = 0xC0;
constexpr uint8_t ueiOPTION_MASK = 0x3F;
// Specifier byte bits: every request carries the request bit; a reply may carry the error
// or the streamed bit.
constexpr uint8_t ueiSPECIFIER_REQUEST = 0x20;
constexpr uint8_t ueiSPECIFIER_STREAM = 0x40;
constexpr uint8_t ueiSPECIFIER_ERROR = 0x80;
constexpr uint8_t ueiSPECIFIER_INDEX_MASK = 0x1F;

// One UEI value as sent or as expected back.
struct uei {
  uint8_t module = 0;     // even, non-zero
  uint8_t command = 0;    // the entity class
  uint8_t option = 0;     // option byte as sent or expected
  uint8_t specifier = 0;  // specifier byte as sent or expected
  union {
    uint8_t byteVal;
    uint16_t shortVal;
    uint32_t intVal;
  } v = {0};
  ueiType type = ueiTypeNone;

  // The value widened to 32 bits according to its type.
  uint32_t value() const {
    switch (type) {
      case ueiTypeByte: return v.byteVal;
      case ueiTypeShort: return v.shortVal;
      case ueiTypeInt: return v.intVal;
      default: return 0;
    }
  }
  void set8(uint8_t value) { v.intVal = 0; v.byteVal = value; type = ueiTypeByte; }
  void set16(uint16_t value) { v.intVal = 0; v.shortVal = value; type = ueiTypeShort; }
  void set32(uint32_t value) { v.intVal = value; type = ueiTypeInt; }
  bool isError() const { return (specifier & ueiSPECIFIER_ERROR) != 0; }
};

}  // namespace Zepric
}  // namespace Halvik
