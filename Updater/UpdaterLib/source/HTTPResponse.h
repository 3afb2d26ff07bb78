#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The outcome of one GET: what was asked for, the HTTP status and the whole body.
class HTTPResponse {
 public:
  explicit HTTPResponse(const std::string& request);

  const std::string& get_request() const { return request; }
  int64_t get_status() const { return status; }
  void set_status(int64_t code) { status = code; }
  const std::string& get_response() const { return body; }

  // Body pieces arrive in transfer order; each is appended as it comes.
  void process(const char* data, size_t length);

 private:
  std::string request;
  int64_t status;  // stays 0 until the transfer has completed
  std::string body;
};
