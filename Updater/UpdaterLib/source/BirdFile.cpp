#include "BirdFile.h"

#include <cassert>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

#include "Log.h"
#include "unix_file.h"

const char* const BirdFile::BIRD_FILE_SIGNATURE = "bird";

namespace {
constexpr size_t kHeaderSize = 6;
constexpr uint32_t kAddressSize = 4;
constexpr uint32_t kBlockHeaderSize = 5;
constexpr uint32_t kChecksumSize = 4;
constexpr uint32_t kDescriptorSize = 64;
constexpr uint32_t kDescriptorFieldSize = 16;
constexpr uint32_t kSerialOffsetsSize = 8;
constexpr uint32_t kSerialTextDigits = 8;
constexpr uint32_t kInflateRatio = 8;
constexpr uint32_t kVectorEntries = 8;
constexpr uint32_t kVectorChecksumEntry = 7;
constexpr unsigned kDumpLine = 50;

enum DescriptorField : unsigned { kBuildField = 0, kVersionField = 1, kSerialField = 2, kModelField = 3 };

uint32_t _get_le32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

void _put_le32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(value >> (8 * i));
}

// Blocks too short for the fields their type promises would be read past their end.
uint32_t _minimum_length(uint8_t type) {
  switch (type) {
    case BirdFile::BLOCK_TYPE_LOADER:
    case BirdFile::BLOCK_TYPE_FIRMWARE:
    case BirdFile::BLOCK_TYPE_LOADER_START:
      return kAddressSize;
    case BirdFile::BLOCK_TYPE_SERIAL_OFFSETS:
      return kSerialOffsetsSize;
    case BirdFile::BLOCK_TYPE_DESCRIPTOR:
      return kDescriptorSize;
    default:
      return 0;
  }
}

bool _is_image(const BirdBlock& block) {
  return block.type == BirdFile::BLOCK_TYPE_FIRMWARE;
}

uint8_t* _image(const BirdBlock& block) { return block.data + kAddressSize; }
uint32_t _image_size(const BirdBlock& block) { return block.length - kAddressSize; }

// The file position of an address inside a firmware image, when `width` bytes from there
// lie wholly inside it.
uint8_t* _image_bytes_at(const BirdBlock& block, uint32_t address, uint32_t width) {
  uint64_t start = block.address;
  uint64_t end = start + _image_size(block);
  if (address < start || uint64_t(address) + width > end) return nullptr;
  return _image(block) + (address - block.address);
}

struct FileCloser {
  aUnixFile* file;
  ~FileCloser() {
    if (file) aFile_Close(&file);
  }
};
}  // namespace

uint32_t BirdFile::GetInt(const uint8_t* bytes) {
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
         uint32_t(bytes[3]);
}

uint16_t BirdFile::GetShort(const uint8_t* bytes) {
  return uint16_t(bytes[0] << 8 | bytes[1]);
}

BirdFile::BirdFile() {}

BirdFile::BirdFile(const std::string& path) : filename(path) {
  assert(this->filename.length() > 0);
  if (!Load()) throw std::runtime_error("Failed to load bird data");
}

bool BirdFile::VerifyFile(const std::string& path) {
  FileCloser closer{aFile_Open(path.c_str(), aFileModeRead)};
  if (!closer.file) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
    return false;
  }
  uint8_t header[kHeaderSize];
  uint64_t count = 0;
  if (aFile_Read(closer.file, header, sizeof header, &count) != aErrNone || count != sizeof header)
    return false;
  return memcmp(header, BIRD_FILE_SIGNATURE, 4) == 0 && header[4] != 0 && header[5] != 0;
}

bool BirdFile::Load() {
  const char* name = filename.c_str();
  Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", name);
  if (!aFile_Exists(name)) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", name);
    return false;
  }
  FileCloser closer{aFile_Open(name, aFileModeRead)};
  if (!closer.file) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", name);
    return false;
  }
  uint64_t size = 0;
  aErr err = aFile_GetSize(closer.file, &size);
  if (err != aErrNone) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", err, name);
    return false;
  }
  if (size > MAX_FILE_SIZE) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error - bird file %s too large (%llu bytes)\n", name,
             (unsigned long long)size);
    return false;
  }

  std::unique_ptr<uint8_t[]> contents(new uint8_t[size ? size : 1]);
  uint64_t count = 0;
  if (size > 0) {
    err = aFile_Read(closer.file, contents.get(), size, &count);
    if (err != aErrNone && err != aErrEOF) {
      Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", err, name);
      return false;
    }
  }
  if (count != size) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", name,
             size_t(count), size_t(size));
    return false;
  }

  if (size > kHeaderSize) {
    signature = GetInt(contents.get());
    version = GetShort(contents.get() + 4);
  }
  const uint8_t* stream = contents.get() + (size > kHeaderSize ? kHeaderSize : size);
  uint32_t streamLength = uint32_t(size > kHeaderSize ? size - kHeaderSize : 0);
  if (!DecompressData(stream, streamLength)) return false;

  ScanBlocks(data.get(), dataSize);
  FindSerialNumberOffsets();
  serialPatch = FirstBlock(BLOCK_TYPE_SERIAL_OFFSETS) != nullptr;
  return true;
}

bool BirdFile::DecompressData(const uint8_t* compressed, uint32_t length) {
  // The buffer is bounded both by the inflate ratio the format allows and by a fixed cap,
  // computed in 64 bits so that large inputs can't wrap it round to something small.
  uint64_t capacity = uint64_t(length) * kInflateRatio;
  if (capacity > MAX_PAYLOAD_SIZE) capacity = MAX_PAYLOAD_SIZE;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity ? capacity : 1]);
  uLongf produced = uLongf(capacity);
  int result = uncompress(buffer.get(), &produced, compressed, uLong(length));
  if (result != Z_OK) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", result);
    dataSize = 0;
    return false;
  }
  data = std::move(buffer);
  dataSize = uint32_t(produced);
  return true;
}

bool BirdFile::ScanBlocks(uint8_t* payload, uint32_t size) {
  bool result = true;
  blocks.clear();
  blockCount = 0;
  // Signed so that a payload too short for its checksum shows as a negative remainder.
  int64_t remaining = size;
  uint8_t* cursor = payload;

  uint32_t declared = 0;
  if (remaining >= 4) {
    declared = GetInt(cursor);
    cursor += 4;
  }
  remaining -= 4;
  Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", declared);
  Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
  Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

  bool overrun = false;
  while (remaining > 4) {
    BirdBlock block;
    block.type = cursor[0] & BIRD_FILE_TYPE_MASK;
    block.flags = uint8_t((cursor[0] & BIRD_FILE_FLAG_MASK) >> 5);
    block.length = GetInt(cursor + 1);
    block.data = cursor + kBlockHeaderSize;
    if (block.length > remaining - kBlockHeaderSize) {
      Log::log(DEBUG_BirdFile,
               "BIRDFILE: Block of type %02X claims %u bytes but only %lld remain\n", block.type,
               block.length, (long long)(remaining - kBlockHeaderSize));
      overrun = true;
      result = false;
      break;
    }
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
             block.length);
    cursor += kBlockHeaderSize + block.length;
    remaining -= kBlockHeaderSize + int64_t(block.length);

    if (block.length < _minimum_length(block.type)) {
      Log::log(DEBUG_BirdFile, "BIRDFILE: Block of type %02X too short (%u bytes), skipped\n",
               block.type, block.length);
      result = false;
      continue;
    }
    if (block.type == BLOCK_TYPE_LOADER || block.type == BLOCK_TYPE_FIRMWARE)
      block.address = GetInt(block.data);
    if (block.type == BLOCK_TYPE_DESCRIPTOR) {
      for (uint32_t field = 0; field < kDescriptorSize; field += kDescriptorFieldSize)
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n",
                 reinterpret_cast<const char*>(block.data + field));
    }
    blockCount++;
    blocks.push_back(block);
  }

  if (!overrun) {
    if (remaining >= kChecksumSize) {
      checksum = GetInt(cursor);
      Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", checksum);
    }
    remaining -= 4;
    if (remaining != 0) {
      Log::log(DEBUG_BirdFile,
               "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
               int(remaining));
      result = false;
    }
  }
  if (blockCount != declared) {
    Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
             blockCount, declared);
    result = false;
  }
  return result;
}

std::vector<BirdBlock> BirdFile::FindBlocks(uint8_t type) const {
  std::vector<BirdBlock> found;
  for (const BirdBlock& block : blocks)
    if (block.type == type) found.push_back(block);
  return found;
}

const BirdBlock* BirdFile::FirstBlock(uint8_t type) const {
  for (const BirdBlock& block : blocks)
    if (block.type == type) return &block;
  return nullptr;
}

bool BirdFile::FindSerialNumberOffsets() {
  const BirdBlock* offsets = blockCount > 0 ? FirstBlock(BLOCK_TYPE_SERIAL_OFFSETS) : nullptr;
  if (!offsets) return false;
  serialNumberOffset = GetInt(offsets->data);
  descriptorOffset = GetInt(offsets->data + 4);
  Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
           serialNumberOffset, descriptorOffset);
  return true;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serial) {
  char text[kSerialTextDigits + 1];
  snprintf(text, sizeof text, "%08X", serial);
  // Only a serial number that actually landed in an image counts: a generic image whose
  // patch address lies outside every image would otherwise go out with the wrong serial.
  bool serialWritten = false;
  bool textWritten = false;
  for (const BirdBlock& block : blocks) {
    if (!_is_image(block)) continue;
    if (serialNumberOffset != 0) {
      if (uint8_t* word = _image_bytes_at(block, serialNumberOffset, 4)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n",
                 _get_le32(word), serial);
        _put_le32(word, serial);
        serialWritten = true;
      }
    }
    if (descriptorOffset != 0) {
      if (uint8_t* units = _image_bytes_at(block, descriptorOffset, 2 * kSerialTextDigits)) {
        for (uint32_t i = 0; i < kSerialTextDigits; ++i) units[2 * i] = uint8_t(text[i]);
        textWritten = true;
      }
    }
  }
  return serialWritten || textWritten;
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t fingerprint[4]) {
  uint8_t key[16];
  for (int word = 0; word < 4; ++word)
    for (int byte = 0; byte < 4; ++byte)
      key[4 * word + byte] = uint8_t(fingerprint[word] >> (24 - 8 * byte));
  for (const BirdBlock& block : blocks) {
    if (!_is_image(block)) continue;
    uint8_t* image = _image(block);
    uint8_t previous = 0;
    for (uint32_t i = 0; i < _image_size(block); ++i) {
      image[i] = uint8_t(image[i] ^ key[i % 16] ^ previous);
      previous = image[i];
    }
  }
  return true;
}

bool BirdFile::ReplaceVectorChecksum() {
  for (const BirdBlock& block : blocks) {
    // An image too short for a whole vector table has no checksum entry to fill.
    if (!_is_image(block) || block.address != 0 || _image_size(block) < 4 * kVectorEntries)
      continue;
    uint8_t* table = _image(block);
    uint32_t sum = 0;
    for (uint32_t entry = 0; entry < kVectorChecksumEntry; ++entry)
      if (entry != 5) sum += _get_le32(table + 4 * entry);
    uint8_t* checksumEntry = table + 4 * kVectorChecksumEntry;
    uint32_t replacement = 0u - sum;
    Log::log(DEBUG_BirdFile, "BIRDFILE: updating vector checksum from %08X ==> %08X\n",
             _get_le32(checksumEntry), replacement);
    _put_le32(checksumEntry, replacement);
  }
  return true;
}

bool BirdFile::ValidateData(const uint8_t* pattern, uint32_t count) const {
  Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", filename.c_str());
  bool found = false;
  if (pattern && count > 0) {
    for (const BirdBlock& block : blocks) {
      if (!_is_image(block) || block.length < count) continue;
      for (uint32_t p = 0; p <= block.length - count; ++p) {
        if (memcmp(block.data + p, pattern, count) == 0) {
          Log::log(DEBUG_BirdFile, "Found data at %d\n", p);
          found = true;
        }
      }
    }
  }
  Log::log(DEBUG_BirdFile, "\n");
  return found;
}

std::string BirdFile::DescriptorField(unsigned index, size_t width) const {
  const BirdBlock* descriptor = FirstBlock(BLOCK_TYPE_DESCRIPTOR);
  if (!descriptor) return std::string();
  const char* field = reinterpret_cast<const char*>(descriptor->data) + index * kDescriptorFieldSize;
  return std::string(field, strnlen(field, width));
}

bool BirdFile::ValidateModel(const char* name) const {
  if (!name || !FirstBlock(BLOCK_TYPE_DESCRIPTOR)) return false;
  std::string model = DescriptorField(kModelField, kDescriptorFieldSize);
  model.erase(model.find_last_not_of(' ') + 1);
  if (strncmp(model.c_str(), name, strlen(name)) != 0) return false;
  Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", model.c_str(), name);
  return true;
}

uint32_t BirdFile::GetSerialNumber() const {
  uint32_t serial = 0;
  for (char c : DescriptorField(kSerialField, kSerialTextDigits)) {
    if (!isxdigit(static_cast<unsigned char>(c))) break;
    serial = serial << 4 | uint32_t(isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return serial;
}

bool BirdFile::ValidateSerialNumber(uint32_t serial) const { return serial == GetSerialNumber(); }

uint32_t BirdFile::GetBuild() const {
  uint32_t build = 0;
  for (char c : DescriptorField(kBuildField, kDescriptorFieldSize - 1)) {
    if (!isdigit(static_cast<unsigned char>(c))) break;
    build = build * 10 + uint32_t(c - '0');
  }
  return build;
}

std::string BirdFile::GetVersion() const {
  std::string text = DescriptorField(kVersionField, kDescriptorFieldSize - 1);
  return text.substr(0, text.find(' '));
}

bool BirdFile::DumpBlocks(uint8_t type) const {
  printf("BIRDFILE: BLOCK DUMP [%s]\n", filename.c_str());
  for (const BirdBlock& block : blocks) {
    if (block.type != type) continue;
    std::string printable;
    for (uint32_t i = 0; i < block.length; ++i) {
      if (i % kDumpLine == 0) {
        printf(" %s\r\n%06d: ", printable.c_str(), i);
        printable.clear();
      }
      uint8_t byte = block.data[i];
      printable += isprint(byte) ? char(byte) : ' ';
      printf("%02X ", byte);
    }
    printf(" %s\n", printable.c_str());
  }
  printf("\n");
  return true;
}
