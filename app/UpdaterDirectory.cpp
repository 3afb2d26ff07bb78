#include "UpdaterDirectory.h"

#include "Log.h"
#include "aDirectory.h"
#include "path.h"

namespace {
constexpr size_t kHomeBuffer = 2048;
}

std::string _build_updater_directory() {
  char home[kHomeBuffer] = "";
  const aErr error = aDirectory_GetHomeDirectory(home, sizeof home);
  if (error != aErrNone || home[0] == '\0') {
    Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n",
             static_cast<int>(error));
    return std::string();
  }
  return BuildPath(home, ".halvik", "updater");
}
