// Feeds arbitrary bytes to the BIRD loader and every operation that reads or patches the
// loaded blocks. The first input byte picks whether the rest is taken as the whole file, or
// as a payload that is compressed and given a valid header, so the block scan sees
// arbitrary payloads and not only streams that zlib refuses. The scratch file lives in
// /dev/shm: rewriting a file on a disk file system each run costs far more than the loader.

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "BirdFile.h"

namespace {
std::string _scratch_path() {
  return "/dev/shm/bird-fuzz-" + std::to_string(getpid()) + ".bird";
}

std::vector<uint8_t> _as_file(const uint8_t* data, size_t size) {
  if (size == 0 || data[0] % 2 == 0) return std::vector<uint8_t>(data + (size ? 1 : 0), data + size);
  uLongf length = compressBound(uLong(size - 1));
  std::vector<uint8_t> file(6 + length);
  file[0] = 'b', file[1] = 'i', file[2] = 'r', file[3] = 'd', file[4] = 1, file[5] = 1;
  if (compress(file.data() + 6, &length, data + 1, uLong(size - 1)) != Z_OK) return {};
  file.resize(6 + length);
  return file;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = _scratch_path();
  std::vector<uint8_t> bytes = _as_file(data, size);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return 0;
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);

  BirdFile::VerifyFile(path);
  try {
    BirdFile loaded(path);
    loaded.GetSerialNumber();
    loaded.GetBuild();
    loaded.GetVersion();
    loaded.ValidateModel("Tamsel");
    loaded.ValidateModel("");
    const uint8_t pattern[] = {0xDE, 0xAD};
    loaded.ValidateData(pattern, sizeof pattern);
    loaded.ReplaceSerialNumber(0x40F5849A);
    const uint32_t fingerprint[4] = {0x01234567, 0x89ABCDEF, 0, 0xFFFFFFFF};
    loaded.DecodeFirmwareBlocks(fingerprint);
    loaded.ReplaceVectorChecksum();
    for (int type = 0; type < 32; ++type) loaded.FindBlocks(uint8_t(type));
  } catch (const std::runtime_error&) {
  }
  return 0;
}
