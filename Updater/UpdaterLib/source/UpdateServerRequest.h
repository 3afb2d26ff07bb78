#pragma once

#include <cstdint>
#include <map>
#include <string>

// Client of the update server's query protocol: each query is one GET of the server's
// endpoint, answered by a few text lines of which the first must begin with "ok". Every
// query answers true on success and writes its outputs only then, and only from the lines
// that are present. Failures are traced under DEBUG_ServerComm, never shown to the operator.
// A null url means default_url.
class UpdateServerRequest {
 public:
  static const char* const default_url;

  // True when the server is reachable and answers ok.
  static bool ping(const char* url);
  // The device's current build number text and the FW text the server wants back in GetBuild.
  static bool QueryBuild(uint32_t serialNumber, std::string& build, std::string& fw,
                         const char* url);
  // Build number text to version text (empty when the server names none). Cleared first.
  static bool GetBuildList(uint32_t serialNumber, std::map<std::string, std::string>& builds,
                           const char* url);
  // The whole BIRD file of a build as one base64 line.
  static bool GetBuild(uint32_t serialNumber, const std::string& fw, const std::string& bld,
                       std::string& bird, const char* url, bool no_cal);
  // The serial number and build of the device that carries the chip (four words).
  static bool GetRecoveryInfo(const uint32_t* fingerprint, uint32_t& serialNumber,
                              uint32_t& build, const char* url);
};
