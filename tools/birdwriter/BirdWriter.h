#pragma once

// Builds BIRD firmware files for tests, the virtual module and the demo. It is written
// independently of the updater's reader so that round trips through both catch faults
// in either.
//
// Quick use:
//   birdwriter::FirmwareOptions o;
//   o.model = "Tamsel"; o.serial = 0x40F5849A; o.build = 99528558; o.version = "2.1.7";
//   o.imageSize = 10000; o.generic = true;          // adds serial-number offsets
//   birdwriter::WriteFirmwareFile("/tmp/x/99528558.bird", o);
//   std::vector<uint8_t> image = birdwriter::ImageBytes(o.imageSize, o.imageSeed);  // what was written
//
// Files hold: "bird", a 16-bit version, then zlib's one-shot compression of the payload
// (declared block count, blocks, 4-byte checksum; all integers big-endian).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace birdwriter {

enum BlockType : uint8_t {
  kLoader = 0,
  kFirmware = 1,
  kSerialOffsets = 2,
  kDescriptor = 4,
  kLoaderStart = 5,
};

// One block as stored: the type (0..31), the flags (0..7, stored in the top three bits of
// the type byte) and the block data exactly as it follows the length field.
struct Block {
  uint8_t type = 0;
  uint8_t flags = 0;
  std::vector<uint8_t> data;
};

using Fingerprint = std::array<uint32_t, 4>;

// Block data for loader and firmware blocks: the 4-byte load address, then the image.
Block LoaderBlock(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
Block FirmwareBlock(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags = 0);
// Addresses (in the firmware's address space) of the 32-bit serial number and of the
// serial number's text inside the USB string descriptor; 0 means no such patch.
Block SerialOffsetsBlock(uint32_t serialAddress, uint32_t descriptorAddress);
// 64 bytes: build in decimal, version text, serial as "%08X", model name, each
// left-aligned in 16 bytes padded with spaces (longer texts are cut to 16).
Block DescriptorBlock(uint32_t build, const std::string& version, uint32_t serial,
                      const std::string& model);
// The same with the four fields given as raw text, for descriptors that are malformed on purpose.
Block DescriptorBlockText(const std::string& build, const std::string& version,
                          const std::string& serial, const std::string& model);
Block LoaderStartBlock(uint32_t startAddress);

// Deterministic pseudo-random bytes: the same size and seed always give the same bytes.
// They barely compress, so images of any size stay within the reader's limit of a payload
// at most eight times its compressed size.
std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed = 1);

// Inverse of the chip-fingerprint descrambling: scrambled[i] = plain[i] ^ key[i % 16] ^
// plain[i - 1] (plain[-1] = 0), the key being the four words' bytes, most significant first.
std::vector<uint8_t> Scramble(const std::vector<uint8_t>& plain, const Fingerprint& fingerprint);

// The file checksum: CRC-32 (the zlib/IEEE 802.3 polynomial) of every payload byte before it.
uint32_t Checksum(const uint8_t* payload, size_t length);

// Payload: declared count (the number of blocks unless given), the blocks, the checksum.
std::vector<uint8_t> Payload(const std::vector<Block>& blocks,
                             std::optional<uint32_t> declaredCount = std::nullopt);
// Whole file bytes: signature, version, compressed payload. No check that the payload
// stays within the reader's 8:1 limit, so tests can build files that exceed it.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& payload, uint16_t version = 0x0101);
std::vector<uint8_t> Encode(const std::vector<Block>& blocks, uint16_t version = 0x0101);

// Writes bytes to a file (created or replaced). False when the file can't be written.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFile(const std::string& path, const std::vector<Block>& blocks, uint16_t version = 0x0101);

// A typical file: optional loader (and loader start) block, one firmware block, optional
// serial offsets, a descriptor. Blocks come in that order.
struct FirmwareOptions {
  std::string model = "Tamsel";
  uint32_t serial = 0xDEADDEAD;
  uint32_t build = 1;
  std::string version = "1.0.0";
  bool descriptor = true;

  uint32_t imageSize = 4096;
  uint32_t imageAddress = 0x00000000;
  uint32_t imageSeed = 1;
  uint8_t firmwareFlags = 0;
  // Image bytes to use instead of ImageBytes(imageSize, imageSeed); imageSize is then ignored.
  std::optional<std::vector<uint8_t>> image;
  // When set, the firmware image is stored scrambled for this chip fingerprint.
  std::optional<Fingerprint> scrambleFor;

  // Generic image: adds the serial offsets block. Unset offsets default to
  // imageAddress + 0x20 (serial word) and imageAddress + 0x40 (16 bytes of descriptor
  // text), which lie inside images of at least 0x50 bytes.
  bool generic = false;
  std::optional<uint32_t> serialOffset;
  std::optional<uint32_t> descriptorOffset;

  // Loader block, added when loaderSize > 0 (or loaderImage is given).
  uint32_t loaderSize = 0;
  uint32_t loaderAddress = 0x10000000;
  uint32_t loaderSeed = 2;
  uint8_t loaderFlags = 0;
  std::optional<std::vector<uint8_t>> loaderImage;
  // Loader start block, added when set.
  std::optional<uint32_t> loaderStart;
};

// The plain image bytes the options produce (before scrambling).
std::vector<uint8_t> FirmwareImage(const FirmwareOptions& options);
std::vector<uint8_t> LoaderImage(const FirmwareOptions& options);
std::vector<Block> FirmwareBlocks(const FirmwareOptions& options);
bool WriteFirmwareFile(const std::string& path, const FirmwareOptions& options);

}  // namespace birdwriter
