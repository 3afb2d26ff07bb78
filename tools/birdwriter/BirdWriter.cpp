#include "BirdWriter.h"

#include <cstdio>
#include <stdexcept>

#include <zlib.h>

namespace birdwriter {
namespace {
constexpr size_t kFieldSize = 16;
constexpr uint32_t kDefaultSerialPatch = 0x20;
constexpr uint32_t kDefaultDescriptorPatch = 0x40;

void _append_be32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void _append_field(std::vector<uint8_t>& out, const std::string& text) {
  std::string field = text.substr(0, kFieldSize);
  field.resize(kFieldSize, ' ');
  out.insert(out.end(), field.begin(), field.end());
}

Block _addressed_block(uint8_t type, uint32_t address, const std::vector<uint8_t>& image,
                       uint8_t flags) {
  Block block{type, flags, {}};
  block.data.reserve(4 + image.size());
  _append_be32(block.data, address);
  block.data.insert(block.data.end(), image.begin(), image.end());
  return block;
}
}  // namespace

Block LoaderBlock(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags) {
  return _addressed_block(kLoader, address, image, flags);
}

Block FirmwareBlock(uint32_t address, const std::vector<uint8_t>& image, uint8_t flags) {
  return _addressed_block(kFirmware, address, image, flags);
}

Block SerialOffsetsBlock(uint32_t serialAddress, uint32_t descriptorAddress) {
  Block block{kSerialOffsets, 0, {}};
  _append_be32(block.data, serialAddress);
  _append_be32(block.data, descriptorAddress);
  return block;
}

Block DescriptorBlockText(const std::string& build, const std::string& version,
                          const std::string& serial, const std::string& model) {
  Block block{kDescriptor, 0, {}};
  for (const std::string* field : {&build, &version, &serial, &model}) _append_field(block.data, *field);
  return block;
}

Block DescriptorBlock(uint32_t build, const std::string& version, uint32_t serial,
                      const std::string& model) {
  char serialText[9];
  snprintf(serialText, sizeof serialText, "%08X", serial);
  return DescriptorBlockText(std::to_string(build), version, serialText, model);
}

Block LoaderStartBlock(uint32_t startAddress) {
  Block block{kLoaderStart, 0, {}};
  _append_be32(block.data, startAddress);
  return block;
}

std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed) {
  // xorshift32: cheap, deterministic and incompressible enough for deflate.
  uint32_t state = seed ? seed : 0x9E3779B9u;
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = uint8_t(state >> 24);
  }
  return bytes;
}

std::vector<uint8_t> Scramble(const std::vector<uint8_t>& plain, const Fingerprint& fingerprint) {
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = uint8_t(fingerprint[i / 4] >> (24 - 8 * (i % 4)));
  std::vector<uint8_t> scrambled(plain.size());
  uint8_t previous = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    scrambled[i] = uint8_t(plain[i] ^ key[i % 16] ^ previous);
    previous = plain[i];
  }
  return scrambled;
}

uint32_t Checksum(const uint8_t* payload, size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (length > 0) {
    uInt piece = length > 0x40000000u ? 0x40000000u : uInt(length);
    crc = crc32(crc, payload, piece);
    payload += piece;
    length -= piece;
  }
  return uint32_t(crc);
}

std::vector<uint8_t> Payload(const std::vector<Block>& blocks, std::optional<uint32_t> declaredCount) {
  std::vector<uint8_t> payload;
  _append_be32(payload, declaredCount.value_or(uint32_t(blocks.size())));
  for (const Block& block : blocks) {
    if (block.type > 0x1F || block.flags > 7)
      throw std::invalid_argument("birdwriter: block type or flags out of range");
    payload.push_back(uint8_t(block.flags << 5 | block.type));
    _append_be32(payload, uint32_t(block.data.size()));
    payload.insert(payload.end(), block.data.begin(), block.data.end());
  }
  _append_be32(payload, Checksum(payload.data(), payload.size()));
  return payload;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& payload, uint16_t version) {
  std::vector<uint8_t> file = {'b', 'i', 'r', 'd', uint8_t(version >> 8), uint8_t(version)};
  uLongf compressedSize = compressBound(uLong(payload.size()));
  std::vector<uint8_t> compressed(compressedSize);
  if (compress(compressed.data(), &compressedSize, payload.data(), uLong(payload.size())) != Z_OK)
    throw std::runtime_error("birdwriter: compression failed");
  file.insert(file.end(), compressed.begin(), compressed.begin() + long(compressedSize));
  return file;
}

std::vector<uint8_t> Encode(const std::vector<Block>& blocks, uint16_t version) {
  return Encode(Payload(blocks), version);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

bool WriteFile(const std::string& path, const std::vector<Block>& blocks, uint16_t version) {
  return WriteBytes(path, Encode(blocks, version));
}

std::vector<uint8_t> FirmwareImage(const FirmwareOptions& options) {
  return options.image ? *options.image : ImageBytes(options.imageSize, options.imageSeed);
}

std::vector<uint8_t> LoaderImage(const FirmwareOptions& options) {
  return options.loaderImage ? *options.loaderImage
                             : ImageBytes(options.loaderSize, options.loaderSeed);
}

std::vector<Block> FirmwareBlocks(const FirmwareOptions& options) {
  std::vector<Block> blocks;
  if (options.loaderImage || options.loaderSize > 0)
    blocks.push_back(LoaderBlock(options.loaderAddress, LoaderImage(options), options.loaderFlags));
  if (options.loaderStart) blocks.push_back(LoaderStartBlock(*options.loaderStart));

  std::vector<uint8_t> image = FirmwareImage(options);
  if (options.scrambleFor) image = Scramble(image, *options.scrambleFor);
  blocks.push_back(FirmwareBlock(options.imageAddress, image, options.firmwareFlags));

  if (options.generic)
    blocks.push_back(SerialOffsetsBlock(
        options.serialOffset.value_or(options.imageAddress + kDefaultSerialPatch),
        options.descriptorOffset.value_or(options.imageAddress + kDefaultDescriptorPatch)));
  if (options.descriptor)
    blocks.push_back(DescriptorBlock(options.build, options.version, options.serial, options.model));
  return blocks;
}

bool WriteFirmwareFile(const std::string& path, const FirmwareOptions& options) {
  return WriteFile(path, FirmwareBlocks(options));
}

}  // namespace birdwriter
