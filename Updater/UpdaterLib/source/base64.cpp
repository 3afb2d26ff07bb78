#include "base64.h"

#include <cstdlib>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kNotBase64 = -1;
constexpr int kFill = -2;

int _sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return kFill;
  return kNotBase64;
}

// Fill may only close the text: "xx==" or "xxx=".
size_t _fill_count(const char* text, size_t length) {
  if (length == 0) return 0;
  if (text[length - 1] != '=') return 0;
  return text[length - 2] == '=' ? 2 : 1;
}

}  // namespace

unsigned char* base64_decode(const char* text, size_t length, size_t* out_length) {
  if (text == nullptr || length % 4 != 0) return nullptr;
  size_t fill = _fill_count(text, length);
  size_t decoded = length / 4 * 3 - fill;

  unsigned char* out = static_cast<unsigned char*>(malloc(decoded + 1));
  if (out == nullptr) return nullptr;

  size_t written = 0;
  for (size_t group = 0; group < length; group += 4) {
    unsigned long bits = 0;
    for (size_t i = 0; i < 4; ++i) {
      int value = _sextet(text[group + i]);
      bool in_fill_place = group + i >= length - fill;
      if (value == kNotBase64 || (value == kFill) != in_fill_place) {
        free(out);
        return nullptr;
      }
      bits = (bits << 6) | static_cast<unsigned long>(value == kFill ? 0 : value);
    }
    for (int shift = 16; shift >= 0 && written < decoded; shift -= 8)
      out[written++] = static_cast<unsigned char>((bits >> shift) & 0xFF);
  }
  out[decoded] = 0;
  if (out_length != nullptr) *out_length = decoded;
  return out;
}

char* base64_encode(const unsigned char* data, size_t length, size_t* out_length) {
  size_t encoded = (length + 2) / 3 * 4;
  char* out = static_cast<char*>(malloc(encoded + 1));
  if (out == nullptr) return nullptr;

  size_t o = 0;
  for (size_t i = 0; i < length; i += 3) {
    size_t present = length - i < 3 ? length - i : 3;
    unsigned long bits = static_cast<unsigned long>(data[i]) << 16;
    if (present > 1) bits |= static_cast<unsigned long>(data[i + 1]) << 8;
    if (present > 2) bits |= data[i + 2];
    out[o++] = kAlphabet[(bits >> 18) & 0x3F];
    out[o++] = kAlphabet[(bits >> 12) & 0x3F];
    out[o++] = present > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
    out[o++] = present > 2 ? kAlphabet[bits & 0x3F] : '=';
  }
  out[encoded] = 0;
  if (out_length != nullptr) *out_length = encoded;
  return out;
}
