#include "KeyValueStore.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "AtomicFile.h"
#include "Log.h"
#include "unix_file.h"

const char* const KeyValueStore::DEFAULT_FILENAME = ".settings";
const char* const KeyValueStore::KEY_CREATED_TIME = "CREATED_TIME";
const char* const KeyValueStore::KEY_UPDATED_TIME = "UPDATED_TIME";

namespace {
constexpr size_t kLineBuffer = 2048;
constexpr size_t kMinimumLine = 3;

std::string _time_text() {
  char text[64] = "";
  time_t now = time(nullptr);
  if (ctime_r(&now, text) == nullptr) return std::string();
  std::string result = text;
  if (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

bool _space(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

std::string _trimmed(const char* begin, const char* end) {
  while (begin < end && _space(*begin)) ++begin;
  while (end > begin && _space(end[-1])) --end;
  return std::string(begin, end);
}
}  // namespace

KeyValueStore::KeyValueStore(const char* path) {
  if (path) Load(path);
}

void KeyValueStore::Load(const char* path) {
  if (!path) return;
  aUnixFile* file = aFile_Open(path, aFileModeRead);
  if (!file) {
    Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n", path,
             errno);
    Add(KEY_CREATED_TIME, _time_text());
    Save(path);
  }
  filename = path;
  changed = false;
  if (!file) return;

  char line[kLineBuffer];
  uint64_t length = 0;
  uint64_t start = 0;
  aFile_GetPosition(file, &start);
  while (aFile_ReadLine(file, line, sizeof line, &length) == aErrNone) {
    // The reported length stops at a NUL byte; the file position tells how much of the
    // line was really consumed, so a long line hidden behind a NUL still ends loading.
    uint64_t end = start;
    aFile_GetPosition(file, &end);
    uint64_t consumed = end - start;
    start = end;
    if (consumed >= sizeof line - 1 && line[sizeof line - 2] != '\n') break;
    ParseLine(line, size_t(length));
  }
  aFile_Close(&file);
}

void KeyValueStore::ParseLine(const char* line, size_t length) {
  // A NUL byte inside a line ends it: nothing after it can belong to a text value.
  length = strnlen(line, length);
  if (length < kMinimumLine || line[0] == '#') return;
  const char* end = line + length;
  const char* equals = static_cast<const char*>(memchr(line, '=', length));
  // A line without an equals sign names no value; it is skipped rather than guessed at.
  if (!equals) return;
  entries[_trimmed(line, equals)] = _trimmed(equals + 1, end);
}

void KeyValueStore::Save(const char* path) {
  if (path) {
    filename = path;
  } else if (filename.empty()) {
    filename = DEFAULT_FILENAME;
    Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
             filename.c_str());
  }
  if (changed) Add(KEY_UPDATED_TIME, _time_text());

  std::string text;
  for (const auto& entry : entries) text += entry.first + "=" + entry.second + "\n";
  int error = 0;
  switch (WriteFileAtomically(filename, text.data(), text.size(), &error)) {
    case AtomicWriteResult::Written:
      changed = false;
      break;
    case AtomicWriteResult::OpenFailed:
      Log::log(DEBUG_Attributes,
               "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
               filename.c_str(), error);
      break;
    case AtomicWriteResult::WriteFailed:
      Log::log(DEBUG_Attributes, "Attibutes: Error - cannot write attributes file: '%s' (%d)\n",
               filename.c_str(), error);
      break;
  }
}

bool KeyValueStore::Set(const std::string& key, const std::string& value) {
  auto found = entries.find(key);
  const std::string current = found == entries.end() ? std::string() : found->second;
  if (current != value) changed = true;
  entries[key] = value;
  return true;
}

bool KeyValueStore::Add(const std::string& key, int value) { return Set(key, std::to_string(value)); }

bool KeyValueStore::Add(const std::string& key, double value) {
  char text[512];
  snprintf(text, sizeof text, "%f", value);
  return Set(key, text);
}

bool KeyValueStore::Add(const std::string& key, const char* value) {
  return Set(key, value ? value : "");
}

bool KeyValueStore::Add(const std::string& key, const std::string& value) { return Set(key, value); }

bool KeyValueStore::AddHex(const std::string& key, unsigned value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return Set(key, text);
}

bool KeyValueStore::Add(const KeyValueStore& other) {
  for (const auto& entry : other.entries) entries[entry.first] = entry.second;
  if (!other.entries.empty()) changed = true;
  return true;
}

bool KeyValueStore::Clear() {
  entries.clear();
  changed = true;
  return true;
}

const std::string& KeyValueStore::NumericText(const std::string& key) { return entries[key]; }

int KeyValueStore::GetInt(const std::string& key, int defaultValue) {
  const std::string& text = NumericText(key);
  return text.empty() ? defaultValue : atoi(text.c_str());
}

unsigned KeyValueStore::GetHex(const std::string& key, unsigned defaultValue) {
  const std::string& text = NumericText(key);
  return text.empty() ? defaultValue : unsigned(strtol(text.c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const std::string& key, bool defaultValue) {
  const std::string& text = NumericText(key);
  return text.empty() ? defaultValue : atoi(text.c_str()) != 0;
}

double KeyValueStore::GetDouble(const std::string& key, double defaultValue) {
  const std::string& text = NumericText(key);
  return text.empty() ? defaultValue : atof(text.c_str());
}

std::string KeyValueStore::GetString(const std::string& key, const char* defaultValue) const {
  auto found = entries.find(key);
  if (found != entries.end()) return found->second;
  return defaultValue ? defaultValue : "";
}

const char* KeyValueStore::operator[](const std::string& key) const {
  auto found = entries.find(key);
  return found == entries.end() ? nullptr : found->second.c_str();
}
