// Loads arbitrary bytes as a settings file and reads the entries back through every getter.

#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "KeyValueStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/settings-fuzz-" + std::to_string(getpid());
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);

  KeyValueStore store(path.c_str());
  KeyValueStore copy = store;
  for (const auto& entry : store.Entries()) {
    copy.GetInt(entry.first, 0);
    copy.GetHex(entry.first, 0);
    copy.GetBOOL(entry.first, false);
    copy.GetDouble(entry.first, 0);
    copy.GetString(entry.first, nullptr);
    if (copy[entry.first] == nullptr) __builtin_trap();
  }
  copy.Add(store);
  return 0;
}
