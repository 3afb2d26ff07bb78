#pragma once

#include <cstdint>
#include <cstdio>

// Package bits of the diagnostic trace; -X activates them.
enum : uint32_t {
  DEBUG_Updater = 0x00000001,
  DEBUG_History = 0x00000002,
  DEBUG_Attributes = 0x00000004,
  DEBUG_BirdFile = 0x00000008,
  DEBUG_ServerComm = 0x00000020,
  DEBUG_Network = 0x00000100,
  DEBUG_Network_SR = 0x00000200,
  DEBUG_Network_FIRM = 0x00000400,
  DEBUG_NXPSerial = 0x00001000,
  DEBUG_NXPSerial_E = 0x00002000,
  DEBUG_NXPSerial_SR = 0x00004000,
  DEBUG_APP = 0x00010000,
  DEBUG_iMXSerial = 0x10000000,
};

// The diagnostic trace. Only static members: every library writes through it, tagging
// each line with a package bit; package 0 lines are always written.
class Log {
 public:
  Log() {}
  ~Log() {}

  static uint32_t package_bitmask;
  static FILE* fh;
  static bool timestamped;
  static const char* const TIMESTAMP_FORMAT;
  static const char* const SEPARATOR;

  static void log(uint32_t package, const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  static void SetOutput(FILE* stream) { fh = stream; }
  static void ActivatePackage(uint32_t mask) { package_bitmask |= mask; }
  static void DeactivatePackage(uint32_t mask) { package_bitmask &= ~mask; }
};
