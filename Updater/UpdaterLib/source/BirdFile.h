#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BirdBlock.h"

// A BIRD firmware file loaded into memory: a six-byte header ("bird", 16-bit version) and
// a zlib stream holding typed blocks. Patching only changes the in-memory payload.
class BirdFile {
 public:
  static const char* const BIRD_FILE_SIGNATURE;  // "bird"
  static constexpr uint16_t BIRD_FILE_VERSION = 0x0101;
  static constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
  static constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;

  // Firmware files are a few megabytes at most; these bounds keep a hostile file (or a
  // small stream that inflates enormously) from exhausting memory.
  static constexpr uint64_t MAX_FILE_SIZE = 64u * 1024 * 1024;
  static constexpr uint64_t MAX_PAYLOAD_SIZE = 64u * 1024 * 1024;

  enum BLOCK_TYPE : uint8_t {
    BLOCK_TYPE_LOADER = 0,
    BLOCK_TYPE_FIRMWARE = 1,
    BLOCK_TYPE_SERIAL_OFFSETS = 2,
    BLOCK_TYPE_DESCRIPTOR = 4,
    BLOCK_TYPE_LOADER_START = 5,
  };

  BirdFile();
  // Loads the file; throws std::runtime_error("Failed to load bird data") when it can't.
  explicit BirdFile(const std::string& path);
  BirdFile(BirdFile&&) = default;
  BirdFile& operator=(BirdFile&&) = default;
  BirdFile(const BirdFile&) = delete;
  BirdFile& operator=(const BirdFile&) = delete;

  // True when the file starts with "bird" and two non-zero version bytes.
  static bool VerifyFile(const std::string& path);
  // Big-endian reads of the file's integers.
  static uint32_t GetInt(const uint8_t* bytes);
  static uint16_t GetShort(const uint8_t* bytes);

  bool Load();
  bool DecompressData(const uint8_t* data, uint32_t length);
  bool ScanBlocks(uint8_t* data, uint32_t size);

  std::vector<BirdBlock> FindBlocks(uint8_t type) const;
  bool FindSerialNumberOffsets();
  bool ReplaceSerialNumber(uint32_t serial);
  bool DecodeFirmwareBlocks(const uint32_t fingerprint[4]);
  bool ReplaceVectorChecksum();
  bool ValidateData(const uint8_t* pattern, uint32_t count) const;
  bool ValidateModel(const char* name) const;
  uint32_t GetSerialNumber() const;
  bool ValidateSerialNumber(uint32_t serial) const;
  uint32_t GetBuild() const;
  std::string GetVersion() const;
  bool DumpBlocks(uint8_t type) const;

  const std::string& GetFilename() const { return filename; }
  uint32_t GetSignature() const { return signature; }
  uint32_t GetFileVersion() const { return version; }
  uint32_t GetChecksum() const { return checksum; }
  uint32_t GetBlockCount() const { return blockCount; }
  const std::vector<BirdBlock>& GetBlocks() const { return blocks; }
  // Set when the file holds a serial-offsets block: a generic image that must receive the
  // target's serial number before transfer.
  bool NeedsSerialPatch() const { return serialPatch; }
  uint32_t GetSerialNumberOffset() const { return serialNumberOffset; }
  uint32_t GetDescriptorOffset() const { return descriptorOffset; }
  const uint8_t* GetData() const { return data.get(); }
  uint32_t GetDataSize() const { return dataSize; }

 private:
  const BirdBlock* FirstBlock(uint8_t type) const;
  std::string DescriptorField(unsigned index, size_t width) const;

  std::string filename;
  uint32_t signature = 0;
  uint32_t version = 0;
  uint32_t checksum = 0;
  uint32_t blockCount = 0;
  std::vector<BirdBlock> blocks;
  bool serialPatch = false;
  uint32_t serialNumberOffset = 0;
  uint32_t descriptorOffset = 0;
  std::unique_ptr<uint8_t[]> data;
  uint32_t dataSize = 0;
};
