#include "UpdateServerRequest.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <vector>

#include "HTTPRequest.h"
#include "Log.h"

const char* const UpdateServerRequest::default_url = UPDATER_DEFAULT_SERVER_URL;

namespace {

using Lines = std::vector<std::string>;

// Runs of line feeds separate lines, so blank lines never shift the numbering.
Lines _split_lines(const std::string& body) {
  Lines lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    if (end > start) lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string _hex8(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

// The lines of a successful answer, or nothing after tracing why the query failed.
std::optional<Lines> _query(const char* name, const HTTPRequest::Parameters& parameters,
                            const char* url) {
  std::optional<HTTPResponse> response;
  try {
    response = HTTPRequest::GET(url != nullptr ? url : UpdateServerRequest::default_url,
                                parameters);
  } catch (const std::exception& e) {
    Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", name, e.what());
    return std::nullopt;
  }
  const std::string& body = response->get_response();
  if (response->get_status() != 200) {
    int status = static_cast<int>(response->get_status());
    if (std::string(name) == "ping")
      Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", status, body.c_str());
    else
      Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", name, status, body.c_str());
    return std::nullopt;
  }
  Lines lines = _split_lines(body);
  if (lines.empty() || lines[0].compare(0, 2, "ok") != 0) {
    Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", name,
             response->get_request().c_str());
    return std::nullopt;
  }
  return lines;
}

const std::string* _line(const Lines& lines, size_t index) {
  return index < lines.size() ? &lines[index] : nullptr;
}

void _strip_carriage_return(std::string& text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
}

}  // namespace

bool UpdateServerRequest::ping(const char* url) {
  return _query("ping", {{"op", "hi"}, {"rv", "2"}}, url).has_value();
}

bool UpdateServerRequest::QueryBuild(uint32_t serialNumber, std::string& build,
                                     std::string& fw, const char* url) {
  auto lines = _query("QueryBuild", {{"op", "qu"}, {"sn", _hex8(serialNumber)}}, url);
  if (!lines) return false;
  if (const std::string* line = _line(*lines, 1)) build = *line;
  if (const std::string* line = _line(*lines, 2)) fw = line->substr(0, line->find('\r'));
  return true;
}

bool UpdateServerRequest::GetBuildList(uint32_t serialNumber,
                                       std::map<std::string, std::string>& builds,
                                       const char* url) {
  static const char* const name = "GetBuildList";
  builds.clear();
  auto lines = _query(name, {{"op", "builds"}, {"sn", _hex8(serialNumber)}}, url);
  if (!lines) return false;
  for (size_t i = 1; i < lines->size(); ++i) {
    std::string entry = (*lines)[i];
    _strip_carriage_return(entry);
    if (entry.size() < 3) continue;
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", name, entry.c_str());
    size_t separator = entry.find(';');
    std::string number = entry.substr(0, separator);
    std::string version;
    if (separator != std::string::npos) {
      size_t end = entry.find(';', separator + 1);
      version = entry.substr(separator + 1,
                             end == std::string::npos ? std::string::npos : end - separator - 1);
    }
    Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", name, number.c_str(), version.c_str());
    builds.emplace(number, version);  // a repeated build keeps its first version
  }
  return true;
}

bool UpdateServerRequest::GetBuild(uint32_t serialNumber, const std::string& fw,
                                   const std::string& bld, std::string& bird, const char* url,
                                   bool no_cal) {
  auto lines = _query("GetBuild",
                      {{"bld", bld},
                       {"fw", fw},
                       {"no_cal", no_cal ? "true" : "false"},
                       {"op", "bird"},
                       {"sn", _hex8(serialNumber)}},
                      url);
  if (!lines) return false;
  bird.clear();
  if (const std::string* line = _line(*lines, 1)) bird = *line;
  return true;
}

bool UpdateServerRequest::GetRecoveryInfo(const uint32_t* fingerprint, uint32_t& serialNumber,
                                          uint32_t& build, const char* url) {
  static const char* const name = "GetRecoveryInfo";
  char words[64];
  snprintf(words, sizeof words, "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1],
           fingerprint[2], fingerprint[3]);
  auto lines = _query(name, {{"brief", "true"}, {"fp", words}, {"op", "fix"}}, url);
  if (!lines) return false;
  auto text = [&](size_t index) {
    const std::string* line = _line(*lines, index);
    return line != nullptr ? line->c_str() : "";
  };
  Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", name, text(0), text(1), text(2));
  if (_line(*lines, 1)) serialNumber = static_cast<uint32_t>(strtoul(text(1), nullptr, 16));
  if (_line(*lines, 2)) build = static_cast<uint32_t>(strtoul(text(2), nullptr, 0));
  return true;
}
