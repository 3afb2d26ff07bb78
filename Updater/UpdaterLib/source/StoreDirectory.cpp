#include "StoreDirectory.h"

#include <stdexcept>
#include <sys/stat.h>

#include "Log.h"
#include "aDirectory.h"

namespace {
constexpr uint32_t kDirectoryMode = 0755;

struct result_t {
  bool found = false;
  const std::string* text = nullptr;
  UpdaterStoreItem* item = nullptr;
};

bool _find_item(const aDirectoryListData* data, void* ref) {
  result_t* result = static_cast<result_t*>(ref);
  Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", data->path,
           data->isDirectory, data->size, result->text->c_str());
  std::string base, name;
  store_directory::SplitPath(data->path, base, name);
  // Only the entry's own name counts: a base path that happens to hold the text must not
  // make "." or ".." (or any other entry) match.
  if (name.find(*result->text) == std::string::npos) return true;
  result->found = true;
  if (result->item)
    *result->item = UpdaterStoreItem(base, name, data->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
  return false;
}
}  // namespace

namespace store_directory {

void Ensure(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    aErr err = aDirectory_Ensure(path.c_str(), kDirectoryMode);
    if (err != aErrNone)
      throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                               std::to_string(int(err)));
    Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
  } else if (!S_ISDIR(status.st_mode)) {
    throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
  } else {
    Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
  }
}

bool Search(const std::string& directory, const std::string& text, UpdaterStoreItem* item) {
  result_t result;
  result.text = &text;
  result.item = item;
  aDirectory_List(directory.c_str(), _find_item, &result);
  Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", result.found ? "Found" : "Not Found",
           text.c_str());
  return result.found;
}

void SplitPath(const std::string& path, std::string& base, std::string& name) {
  size_t slash = path.rfind('/');
  base = slash == std::string::npos ? std::string() : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace store_directory
