#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Log.h"
#include "aDirectory.h"

namespace {

enum OptionIdentifier : int32_t {
  OPTION_END = -1,
  OPTION_HELP = 0,
  OPTION_COMMAND = 1,
  OPTION_PARAMETER = 2,
};
enum OptionArgument : int32_t { NO_ARGUMENT = 0, REQUIRED_ARGUMENT = 1 };

// What a matched option does; one per row so the table alone decides the parse.
enum OptionAction {
  SET_COMMAND, SET_OVERRIDE, REJECT, HELP, SET_N_FLAG, LOG_MASK, SET_Z, BUILD, SERIAL, TRANSPORT,
  BIRD_FILE, ROUTER_SERIAL, SERIAL_PORT, BAUD_RATE, ECHO, LOG_MESSAGE, LOG_FILE, SERVER_URL,
};

struct Option {
  int32_t identifier;
  const char* text;
  int32_t argument;
  OptionAction action;
  uint32_t command;  // the bit SET_COMMAND sets
};

const Option g_rgOptions[] = {
    {OPTION_COMMAND, "-B", NO_ARGUMENT, SET_COMMAND, CMD_BUILD_LIST},
    {OPTION_COMMAND, "-D", NO_ARGUMENT, SET_COMMAND, CMD_DISCOVER},
    {OPTION_COMMAND, "-G", NO_ARGUMENT, SET_COMMAND, CMD_GET_BUILD},
    {OPTION_COMMAND, "-I", NO_ARGUMENT, SET_COMMAND, CMD_INFO},
    {OPTION_COMMAND, "-U", NO_ARGUMENT, SET_COMMAND, CMD_UPDATE},
    {OPTION_COMMAND, "-OVERRIDE", NO_ARGUMENT, SET_OVERRIDE, 0},
    {OPTION_COMMAND, "-N", NO_ARGUMENT, SET_COMMAND, CMD_FINGERPRINT},
    {OPTION_COMMAND, "-Y", NO_ARGUMENT, REJECT, 0},
    {OPTION_COMMAND, "-C", NO_ARGUMENT, SET_COMMAND, CMD_CHECK},
    {OPTION_HELP, "-h", NO_ARGUMENT, HELP, 0},
    {OPTION_HELP, "-H", NO_ARGUMENT, HELP, 0},
    {OPTION_PARAMETER, "-n", NO_ARGUMENT, SET_N_FLAG, 0},
    {OPTION_PARAMETER, "-X", REQUIRED_ARGUMENT, LOG_MASK, 0},
    {OPTION_PARAMETER, "-Z", REQUIRED_ARGUMENT, SET_Z, 0},
    {OPTION_PARAMETER, "-b", REQUIRED_ARGUMENT, BUILD, 0},
    {OPTION_PARAMETER, "-d", REQUIRED_ARGUMENT, SERIAL, 0},
    {OPTION_PARAMETER, "-t", REQUIRED_ARGUMENT, TRANSPORT, 0},
    {OPTION_PARAMETER, "-f", REQUIRED_ARGUMENT, BIRD_FILE, 0},
    {OPTION_PARAMETER, "-r", REQUIRED_ARGUMENT, ROUTER_SERIAL, 0},
    {OPTION_PARAMETER, "-s", REQUIRED_ARGUMENT, SERIAL_PORT, 0},
    {OPTION_PARAMETER, "-o", REQUIRED_ARGUMENT, BAUD_RATE, 0},
    {OPTION_PARAMETER, "-e", REQUIRED_ARGUMENT, ECHO, 0},
    {OPTION_PARAMETER, "-l", REQUIRED_ARGUMENT, LOG_MESSAGE, 0},
    {OPTION_PARAMETER, "-k", REQUIRED_ARGUMENT, LOG_FILE, 0},
    {OPTION_PARAMETER, "-u", REQUIRED_ARGUMENT, SERVER_URL, 0},
    {OPTION_HELP, "--help", NO_ARGUMENT, HELP, 0},
    {OPTION_END, nullptr, NO_ARGUMENT, REJECT, 0},
};

constexpr size_t kHomeBuffer = 2048;

// The row whose text the word names, exactly or as an unambiguous abbreviation that goes
// beyond the leading hyphens; null when none or several fit.
const Option* _match_option(const char* word, size_t length) {
  const Option* abbreviated = nullptr;
  int candidates = 0;
  for (const Option* option = g_rgOptions; option->identifier != OPTION_END; ++option) {
    const size_t optionLength = strlen(option->text);
    if (length > optionLength || strncmp(word, option->text, length) != 0) continue;
    if (length == optionLength) return option;
    if (length <= strspn(option->text, "-")) continue;
    abbreviated = option;
    ++candidates;
  }
  return candidates == 1 ? abbreviated : nullptr;
}

bool _has_hex_prefix(const char* text) {
  return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

uint32_t _whole_word(const char* text, const char** end, const char* digits, int base) {
  if (end == nullptr || text == nullptr || text[strspn(text, digits)] != '\0') return 0;
  errno = 0;
  char* stop = nullptr;
  const unsigned long long value = strtoull(text, &stop, base);
  // A value too wide for 32 bits is refused rather than cut, so no other device is named.
  if (errno == ERANGE || value > UINT32_MAX) return 0;
  *end = stop;
  return static_cast<uint32_t>(value);
}

// -d and -r: hexadecimal with an optional 0x prefix; 0 is no serial number at all.
bool _read_serial(UpdaterDisplayInterface& display, const char* argument, uint32_t& serial,
                  const char* prefixNote, const char* invalidFormat) {
  if (_has_hex_prefix(argument)) {
    argument += 2;
    Log::log(DEBUG_Updater, "%s", prefixNote);
  }
  const char* end = nullptr;
  serial = _get_hex_arg(argument, &end);
  if (serial != 0) return true;
  display.message(UpdaterDisplayInterface::ERROR, invalidFormat, argument);
  return false;
}

bool _read_transport(UpdaterDisplayInterface& display, const char* argument,
                     Parameters& parameters) {
  parameters.transportGiven = true;
  if (strncmp(argument, "USB", 3) == 0) {
    parameters.transport = USB;
  } else if (strncmp(argument, "TCP", 3) == 0) {
    parameters.transport = TCPIP;
  } else if (strncmp(argument, "RECOVER", 7) == 0) {
    parameters.transport = kTransportRecover;
  } else {
    display.message(UpdaterDisplayInterface::ERROR,
                    "Invalid transport type:[%s]\n"
                    "Must be one of the following: USB, TCPIP, RECOVER",
                    argument);
    parameters.transport = 0;
    return false;
  }
  return true;
}

// A mask with stray characters activates nothing, but does not fail the parse.
void _read_log_mask(UpdaterDisplayInterface& display, const char* argument,
                    Parameters& parameters) {
  char* rest = nullptr;
  parameters.logMask =
      static_cast<uint32_t>(strtoull(argument, &rest, _has_hex_prefix(argument) ? 16 : 10));
  if (*rest != '\0') {
    display.message(UpdaterDisplayInterface::ERROR,
                    "Invalid format for \"%s\" parameter, unprocessed characters [%s]", "-X",
                    rest);
    return;
  }
  Log::ActivatePackage(parameters.logMask);
}

// Applies one matched option; false when it is rejected.
bool _apply_option(UpdaterDisplayInterface& display, const Option& option, const char* argument,
                   Parameters& parameters) {
  const char* end = nullptr;
  switch (option.action) {
    case SET_COMMAND: parameters.commands.Set(option.command); return true;
    case SET_OVERRIDE: parameters.override = true; return true;
    case REJECT:
      display.message(UpdaterDisplayInterface::ERROR, "Unhandled command: [%s]", option.text);
      return false;
    case HELP:
      parameters.commands.Set(CMD_HELP);
      parameters.helpRequested = true;
      return true;
    case SET_N_FLAG: parameters.nFlag = true; return true;
    case LOG_MASK: _read_log_mask(display, argument, parameters); return true;
    case SET_Z: parameters.commands.Set(CMD_Z); return true;
    case BUILD: parameters.build = std::to_string(_get_int_arg(argument, &end)); return true;
    case SERIAL:
      return _read_serial(display, argument, parameters.serialNumber,
                          "Discarding '0x' serial number prefix\n",
                          "Invalid serial number obtained from argument [%s]");
    case ROUTER_SERIAL:
      return _read_serial(display, argument, parameters.routerSerialNumber,
                          "Discarding '0x' router serial number prefix\n",
                          "Invalid router serial number obtained from argument [%s]");
    case TRANSPORT: return _read_transport(display, argument, parameters);
    case BIRD_FILE: parameters.birdFile = argument; return true;
    case SERIAL_PORT: parameters.serialPort = argument; return true;
    case BAUD_RATE: parameters.baudRate = _get_int_arg(argument, &end); return true;
    case ECHO: parameters.echo = true; return true;
    case LOG_MESSAGE: parameters.logMessage = argument; return true;
    case LOG_FILE: parameters.logFileName = argument; return true;
    case SERVER_URL: parameters.serverURL = argument; return true;
  }
  return true;
}

std::string _app_name(const char* path) {
  if (path == nullptr) return std::string();
  const char* name = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  return name;
}

}  // namespace

uint32_t _get_hex_arg(const char* text, const char** end) {
  return _whole_word(text, end, "0123456789ABCDEFabcdef", 16);
}

uint32_t _get_int_arg(const char* text, const char** end) {
  return _whole_word(text, end, "0123456789", 10);
}

int _get_params(UpdaterDisplayInterface& display, int argc, const char* const* argv,
                Parameters& parameters) {
  parameters = Parameters();
  parameters.appName = _app_name(argc > 0 ? argv[0] : nullptr);
  char home[kHomeBuffer] = "";
  aDirectory_GetHomeDirectory(home, sizeof home);
  parameters.homeDirectory = home;
  Log::log(DEBUG_APP, "Home directory:[%s]\n", home);

  bool failed = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (word == nullptr || word[0] != '-') continue;
    const char* equals = strchr(word, '=');
    const size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - word) : strlen(word);
    const Option* option = _match_option(word, nameLength);
    if (option == nullptr) continue;

    const char* argument = equals != nullptr ? equals + 1 : nullptr;
    if (option->argument == NO_ARGUMENT && argument != nullptr) continue;
    if (option->argument == REQUIRED_ARGUMENT && argument == nullptr) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) continue;
      argument = argv[++i];
    }

    if (!_apply_option(display, *option, argument, parameters)) failed = true;
    if (parameters.helpRequested) return 0;
  }

  Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", parameters.appName.c_str());
  for (int i = 0; i < argc; ++i) {
    Log::log(DEBUG_APP, "\t[%s]\n", argv[i] != nullptr ? argv[i] : "");
  }
  return failed ? 1 : _validate_params(parameters);
}

int _validate_params(Parameters&) { return 0; }

int _release_params(Parameters& parameters) {
  parameters = Parameters();
  return 0;
}
