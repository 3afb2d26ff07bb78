#pragma once

#include <map>
#include <string>

#include "HTTPResponse.h"

// One blocking HTTP GET. Transport failures throw std::runtime_error carrying the
// transport's own description; HTTP error statuses are returned, not thrown.
class HTTPRequest {
 public:
  // Ordered by name, byte-wise, which fixes the order of the query string.
  using Parameters = std::map<std::string, std::string>;

  // url?name=value&name=value& — values go out exactly as given (callers pre-encode).
  static std::string BuildURL(const std::string& url, const Parameters& parameters);

  static HTTPResponse GET(const std::string& url, const Parameters& parameters);
};
