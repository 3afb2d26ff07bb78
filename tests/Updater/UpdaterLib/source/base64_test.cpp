#include "base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct Freed {
  void operator()(void* p) const { free(p); }
};

// Decodes to a string, or reports that the decoder refused the text.
bool Decode(const std::string& text, std::string& out) {
  size_t length = 12345;
  std::unique_ptr<unsigned char, Freed> bytes(base64_decode(text.data(), text.size(), &length));
  if (!bytes) return false;
  EXPECT_EQ(bytes.get()[length], 0) << "decoded bytes must be followed by a zero byte";
  out.assign(reinterpret_cast<const char*>(bytes.get()), length);
  return true;
}

std::string Encode(const std::string& data) {
  size_t length = 0;
  std::unique_ptr<char, Freed> text(base64_encode(
      reinterpret_cast<const unsigned char*>(data.data()), data.size(), &length));
  EXPECT_TRUE(text);
  EXPECT_EQ(length, (data.size() + 2) / 3 * 4);
  EXPECT_EQ(text.get()[length], '\0');
  return std::string(text.get(), length);
}

TEST(Base64, StandardVectorsBothWays) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string("\xFB\xFF\x00", 3), "+/8A"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Encode(plain), encoded);
    std::string decoded;
    ASSERT_TRUE(Decode(encoded, decoded)) << encoded;
    EXPECT_EQ(decoded, plain) << encoded;
  }
}

TEST(Base64, EveryByteValueSurvivesARoundTrip) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t cut = 0; cut < 3; ++cut) {
    std::string data = all.substr(cut);
    std::string decoded;
    ASSERT_TRUE(Decode(Encode(data), decoded));
    EXPECT_EQ(decoded, data);
  }
}

TEST(Base64, RefusesTextThatIsNotBase64) {
  const char* refused[] = {
      "Zm9vY",     // length not a multiple of 4
      "Zg=",       // likewise, even with fill
      "Zm9v\r",    // a carriage return left on the answer line
      "Zm9v\r\n",  // length 6
      "Zm\r\n",    // length 4, but not the alphabet
      "Z===",      // fill in the third-last place
      "====",      //
      "Zg=A",      // fill followed by data
      "Zm=vZm9v",  // fill inside the text
      "Zm9*",      // outside the alphabet
      "Zm 9",      //
  };
  for (const char* text : refused) {
    std::string decoded;
    EXPECT_FALSE(Decode(text, decoded)) << "[" << text << "]";
  }
}

TEST(Base64, DecodesWithoutReadingPastTheLengthGiven) {
  // The length, not a terminator, bounds the text: the tail here is never looked at.
  const char text[] = "QQ==garbage";
  size_t length = 0;
  std::unique_ptr<unsigned char, Freed> bytes(base64_decode(text, 4, &length));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(bytes.get()[0], 'A');
}

}  // namespace
