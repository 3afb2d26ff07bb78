#pragma once

#include <map>
#include <string>

// Named text values kept in memory and mirrored in a file of key=value lines.
class KeyValueStore {
 public:
  static const char* const DEFAULT_FILENAME;  // ".settings"
  static const char* const KEY_CREATED_TIME;  // "CREATED_TIME"
  static const char* const KEY_UPDATED_TIME;  // "UPDATED_TIME"

  // Loads `path` at once when given; a missing file is created.
  explicit KeyValueStore(const char* path = nullptr);
  KeyValueStore(const KeyValueStore&) = default;
  KeyValueStore& operator=(const KeyValueStore&) = default;

  void Load(const char* path);
  // Without a path, writes back to the file last loaded or saved (".settings" if none).
  void Save(const char* path = nullptr);

  bool Add(const std::string& key, int value);
  bool Add(const std::string& key, double value);
  bool Add(const std::string& key, const char* value);
  bool Add(const std::string& key, const std::string& value);
  bool AddHex(const std::string& key, unsigned value);
  bool Add(const KeyValueStore& other);
  bool Clear();

  // The numeric getters create a missing key with an empty value, so a later Save writes it.
  int GetInt(const std::string& key, int defaultValue);
  unsigned GetHex(const std::string& key, unsigned defaultValue);
  bool GetBOOL(const std::string& key, bool defaultValue);
  double GetDouble(const std::string& key, double defaultValue);
  std::string GetString(const std::string& key, const char* defaultValue = nullptr) const;
  // The value, or null when the key does not exist.
  const char* operator[](const std::string& key) const;

  const std::string& FileName() const { return filename; }
  const std::map<std::string, std::string>& Entries() const { return entries; }
  bool IsChanged() const { return changed; }

 private:
  bool Set(const std::string& key, const std::string& value);
  // The value of a key the numeric getters read, created empty when missing.
  const std::string& NumericText(const std::string& key);
  void ParseLine(const char* line, size_t length);

  std::string filename;
  std::map<std::string, std::string> entries;
  bool changed = false;
};
