#include "Log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>
#include <unistd.h>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;
bool Log::timestamped = false;
const char* const Log::TIMESTAMP_FORMAT = "%Y:%m:%d:%H:%M:%S";
const char* const Log::SEPARATOR = " | ";

namespace {
constexpr size_t kLineBuffer = 2048;
constexpr size_t kStampBuffer = 128;
constexpr size_t kShortFormat = 10;  // formats this short get no time stamp

void _write_all(FILE* stream, const char* text, size_t length) {
  // One write call per line keeps lines whole; errors are of no consequence to the trace.
  if (fwrite(text, 1, length, stream) != length) clearerr(stream);
}
}  // namespace

void Log::log(uint32_t package, const char* format, ...) {
  if (package != 0 && (package_bitmask & package) == 0) return;
  if (format == nullptr) return;

  if (timestamped && strlen(format) > kShortFormat) {
    char stamp[kStampBuffer];
    time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    size_t length = strftime(stamp, sizeof stamp, TIMESTAMP_FORMAT, &utc);
    _write_all(stdout, stamp, length);
    _write_all(stdout, SEPARATOR, strlen(SEPARATOR));
  }

  char line[kLineBuffer];
  va_list arguments;
  va_start(arguments, format);
  int wanted = vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (wanted < 0 || fh == nullptr) return;
  size_t length = static_cast<size_t>(wanted) < sizeof line ? static_cast<size_t>(wanted)
                                                             : sizeof line - 1;
  _write_all(fh, line, length);
}
