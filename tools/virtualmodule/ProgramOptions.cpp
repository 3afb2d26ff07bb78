#include "ProgramOptions.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace virtualmodule {

namespace {

uint32_t number(const std::string& text, const std::string& option, int base = 0, uint32_t max = 0xFFFFFFFFu) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, base);
  if (text.empty() || *end != '\0' || errno != 0 || value > max || text[0] == '-')
    throw std::invalid_argument("bad value for " + option + ": " + text);
  return uint32_t(value);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

FirmwareVersion version(const std::string& text, const std::string& option) {
  const auto parts = split(text, '.');
  if (parts.size() != 3) throw std::invalid_argument("bad value for " + option + ": " + text + " (want MAJOR.MINOR.PATCH)");
  return FirmwareVersion{uint8_t(number(parts[0], option, 10, 15)), uint8_t(number(parts[1], option, 10, 15)),
                         number(parts[2], option, 10, 0xFFFFFF)};
}

uint8_t moduleAddress(const std::string& text, const std::string& option) {
  const uint32_t address = number(text, option, 0, 254);
  if (address == 0 || (address & 1)) throw std::invalid_argument(option + ": module addresses are even, 2 to 254");
  return uint8_t(address);
}

// ADDR:SERIAL:MODEL[:VERSION[:BUILD]]
DeviceModel extraModule(const std::string& text) {
  const std::string option = "--module";
  const auto parts = split(text, ':');
  if (parts.size() < 3 || parts.size() > 5)
    throw std::invalid_argument("bad value for --module: " + text + " (want ADDR:SERIAL:MODEL[:VERSION[:BUILD]])");
  DeviceModel device;
  device.moduleAddress = moduleAddress(parts[0], option);
  device.serialNumber = number(parts[1], option, 16);
  device.model = uint8_t(number(parts[2], option, 0, 255));
  if (parts.size() > 3) device.version = version(parts[3], option);
  if (parts.size() > 4) device.build = number(parts[4], option, 10);
  device.uniqueIdentifier = identifierFromSerial(device.serialNumber);
  return device;
}

}  // namespace

ProgramOptions parseProgramOptions(int argc, const char* const* argv) {
  ProgramOptions options;
  bool identifierGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(option + " needs a value");
      return argv[++i];
    };
    DeviceModel& primary = options.primary;
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--address") {
      options.address = value();
    } else if (option == "--port") {
      options.port = uint16_t(number(value(), option, 10, 65535));
    } else if (option == "--serial") {
      primary.serialNumber = number(value(), option, 16);
    } else if (option == "--model") {
      primary.model = uint8_t(number(value(), option, 0, 255));
    } else if (option == "--version") {
      primary.version = version(value(), option);
    } else if (option == "--build") {
      primary.build = number(value(), option, 10);
    } else if (option == "--module-address") {
      primary.moduleAddress = primary.routerAddress = moduleAddress(value(), option);
    } else if (option == "--name") {
      primary.name = value();
    } else if (option == "--uid") {
      const auto words = split(value(), ':');
      if (words.size() != 4) throw std::invalid_argument("--uid wants four hexadecimal words W0:W1:W2:W3");
      for (size_t w = 0; w < 4; ++w) primary.uniqueIdentifier[w] = number(words[w], option, 16);
      identifierGiven = true;
    } else if (option == "--heartbeat") {
      primary.heartbeatTenths = uint8_t(number(value(), option, 10, 255));
    } else if (option == "--module") {
      options.modules.push_back(extraModule(value()));
    } else if (option == "--answer-absent") {
      options.faults.answerAbsent = true;
    } else if (option == "--silent") {
      options.faults.silent = true;
    } else if (option == "--wrong-length") {
      const auto parts = split(value(), ':');
      if (parts.empty() || parts.size() > 2) throw std::invalid_argument("--wrong-length wants CMD[:CHANGE]");
      const int change = parts.size() == 2 ? std::atoi(parts[1].c_str()) : -1;
      if (change == 0) throw std::invalid_argument("--wrong-length: CHANGE must not be 0");
      options.faults.lengthChange[uint8_t(number(parts[0], option, 0, 255))] = change;
    } else if (option == "--garbage-at-start") {
      options.faults.garbageOnLinkStart = true;
    } else if (option == "--garbage-before-replies") {
      options.faults.garbageBeforeReplies = int(number(value(), option, 10, 0x7FFFFFFF));
    } else if (option == "--drop-after") {
      options.faults.dropAfterPackets = int(number(value(), option, 10, 0x7FFFFFFF));
    } else if (option == "--out-of-sequence") {
      const std::string mode = value();
      if (mode == "skip") options.faults.sequence = Faults::Sequence::Skip;
      else if (mode == "swap") options.faults.sequence = Faults::Sequence::Swap;
      else throw std::invalid_argument("--out-of-sequence wants skip or swap");
    } else if (option == "--discovery") {
      options.discoveryInterface = value();
    } else if (option == "--log") {
      options.logPath = value();
    } else {
      throw std::invalid_argument("unknown option " + option);
    }
  }
  if (!identifierGiven) options.primary.uniqueIdentifier = identifierFromSerial(options.primary.serialNumber);
  return options;
}

const char* programUsage() {
  return "usage: virtual-module [options]\n"
         "  --address ADDR            IPv4 address to listen on (127.0.0.1)\n"
         "  --port N                  TCP port, 0 for any free one (9000)\n"
         "  --serial HEX              serial number (1234ABCD)\n"
         "  --model N                 model number (0x13)\n"
         "  --version MAJ.MIN.PATCH   firmware version (1.0.0)\n"
         "  --build N                 firmware build number (1)\n"
         "  --module-address N        address on the module network (2)\n"
         "  --name TEXT               module name\n"
         "  --uid W0:W1:W2:W3         unique identifier words, hexadecimal (derived from the serial)\n"
         "  --heartbeat TENTHS        heartbeat interval in tenths of a second (0: none)\n"
         "  --module ADDR:SERIAL:MODEL[:VERSION[:BUILD]]\n"
         "                            a module behind this one, which then routes for it (repeatable)\n"
         "  --answer-absent           answer requests for absent addresses with an error at once\n"
         "  --silent                  answer nothing\n"
         "  --wrong-length CMD[:N]    replies to command CMD get N bytes more (default -1: one less)\n"
         "  --garbage-at-start        send garbage right after the host starts the link\n"
         "  --garbage-before-replies N  precede the next N replies with garbage\n"
         "  --drop-after N            drop the connection on the N-th data packet (once)\n"
         "  --out-of-sequence skip|swap  misnumber or reorder multi-packet replies\n"
         "  --discovery ADDR          answer discovery requests on the interface with this address\n"
         "  --log FILE                write the traffic to FILE\n"
         "Prints \"ready ADDR:PORT\" once listening; SIGTERM or SIGINT ends it.\n";
}

}  // namespace virtualmodule
