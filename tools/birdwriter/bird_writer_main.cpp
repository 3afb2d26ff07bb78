// Writes a loader/firmware BIRD file from command-line options, for demos and end-to-end tests.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "BirdWriter.h"

namespace {
const char* const kUsage =
    "usage: bird-writer OUTPUT [options]\n"
    "  --model NAME            descriptor model name (Tamsel)\n"
    "  --serial HEX            descriptor serial number (DEADDEAD)\n"
    "  --build N               build number (1)\n"
    "  --version TEXT          version text (1.0.0)\n"
    "  --no-descriptor         leave out the descriptor block\n"
    "  --size N                firmware image bytes (4096)\n"
    "  --address HEX           firmware load address (0)\n"
    "  --seed N                seed of the image bytes (1)\n"
    "  --image FILE            firmware image bytes from FILE instead\n"
    "  --flags N               firmware block flags, 0..7\n"
    "  --scramble W0,W1,W2,W3  store the image scrambled for this chip fingerprint (hex)\n"
    "  --generic               add serial-number offsets (a generic image)\n"
    "  --serial-offset HEX     address of the serial word (image address + 0x20)\n"
    "  --descriptor-offset HEX address of the serial text (image address + 0x40)\n"
    "  --loader-size N         add a loader block of N bytes\n"
    "  --loader-image FILE     add a loader block with the bytes of FILE\n"
    "  --loader-address HEX    loader load address (10000000)\n"
    "  --loader-seed N         seed of the loader bytes (2)\n"
    "  --loader-flags N        loader block flags, 0..7\n"
    "  --loader-start HEX      add a loader start block\n"
    "  --file-version HEX      header version (0101)\n";

bool _number(const char* text, int base, uint32_t& value) {
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = strtoull(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  value = uint32_t(parsed);
  return true;
}

bool _read_file(const char* path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool _fingerprint(const char* text, birdwriter::Fingerprint& fingerprint) {
  std::string rest = text;
  for (size_t i = 0; i < fingerprint.size(); ++i) {
    size_t comma = rest.find(',');
    bool last = i + 1 == fingerprint.size();
    if (last != (comma == std::string::npos)) return false;
    if (!_number(rest.substr(0, comma).c_str(), 16, fingerprint[i])) return false;
    rest = last ? "" : rest.substr(comma + 1);
  }
  return true;
}

int _fail(const char* what, const char* value) {
  fprintf(stderr, "bird-writer: %s: %s\n%s", what, value, kUsage);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    fputs(kUsage, stderr);
    return 2;
  }
  const char* output = argv[1];
  birdwriter::FirmwareOptions options;
  uint32_t fileVersion = 0x0101;

  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--no-descriptor") { options.descriptor = false; continue; }
    if (option == "--generic") { options.generic = true; continue; }
    if (i + 1 >= argc) return _fail("missing value for", argv[i]);
    const char* value = argv[++i];
    auto flags = [value](uint8_t& target) {
      uint32_t number = 0;
      if (!_number(value, 10, number) || number > 7) return false;
      target = uint8_t(number);
      return true;
    };
    auto address = [value](std::optional<uint32_t>& target) {
      uint32_t number = 0;
      if (!_number(value, 16, number)) return false;
      target = number;
      return true;
    };
    bool ok = true;
    if (option == "--model") options.model = value;
    else if (option == "--version") options.version = value;
    else if (option == "--serial") ok = _number(value, 16, options.serial);
    else if (option == "--build") ok = _number(value, 10, options.build);
    else if (option == "--size") ok = _number(value, 10, options.imageSize);
    else if (option == "--address") ok = _number(value, 16, options.imageAddress);
    else if (option == "--seed") ok = _number(value, 10, options.imageSeed);
    else if (option == "--flags") ok = flags(options.firmwareFlags);
    else if (option == "--serial-offset") ok = address(options.serialOffset);
    else if (option == "--descriptor-offset") ok = address(options.descriptorOffset);
    else if (option == "--loader-size") ok = _number(value, 10, options.loaderSize);
    else if (option == "--loader-address") ok = _number(value, 16, options.loaderAddress);
    else if (option == "--loader-seed") ok = _number(value, 10, options.loaderSeed);
    else if (option == "--loader-flags") ok = flags(options.loaderFlags);
    else if (option == "--loader-start") ok = address(options.loaderStart);
    else if (option == "--file-version") ok = _number(value, 16, fileVersion) && fileVersion <= 0xFFFF;
    else if (option == "--scramble") {
      birdwriter::Fingerprint fingerprint{};
      ok = _fingerprint(value, fingerprint);
      options.scrambleFor = fingerprint;
    } else if (option == "--image" || option == "--loader-image") {
      std::vector<uint8_t> bytes;
      if (!_read_file(value, bytes)) return _fail("cannot read", value);
      (option == "--image" ? options.image : options.loaderImage) = bytes;
    } else {
      return _fail("unknown option", argv[i - 1]);
    }
    if (!ok) return _fail("bad value", value);
  }

  if (!birdwriter::WriteFile(output, birdwriter::FirmwareBlocks(options), uint16_t(fileVersion))) {
    fprintf(stderr, "bird-writer: cannot write %s: %s\n", output, strerror(errno));
    return 1;
  }
  return 0;
}
