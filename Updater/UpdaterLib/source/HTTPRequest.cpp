#include "HTTPRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>

#include "Log.h"

namespace {

constexpr int kShownBytes = 100;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kStallTimeoutSeconds = 60;  // with not a byte arriving

size_t _rcv_data(char* data, size_t size, size_t count, void* user) {
  HTTPResponse* response = static_cast<HTTPResponse*>(user);
  size_t length = size * count;
  // The piece is not zero-terminated, so the precision must never exceed what arrived.
  int shown = static_cast<int>(std::min<size_t>(length, kShownBytes));
  Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%*.*s]\n",
           static_cast<int>(size), static_cast<int>(count),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(response)), kShownBytes, shown,
           data);
  try {
    response->process(data, length);
  } catch (const std::exception&) {
    // No exception may cross the transport library; a short count makes it abort instead.
    return 0;
  }
  Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(length));
  return length;
}

// Owns the easy handle so that every exit path releases it.
class CurlHandle {
 public:
  CurlHandle() : handle(curl_easy_init()) {
    if (handle == nullptr) throw std::runtime_error("Could not create curl instance");
  }
  ~CurlHandle() { curl_easy_cleanup(handle); }
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;
  CURL* get() const { return handle; }

 private:
  CURL* handle;
};

void _check(CURLcode code) {
  if (code != CURLE_OK) throw std::runtime_error(curl_easy_strerror(code));
}

}  // namespace

std::string HTTPRequest::BuildURL(const std::string& url, const Parameters& parameters) {
  std::string request = url;
  if (!parameters.empty()) request += "?";
  for (const auto& [name, value] : parameters) request += name + "=" + value + "&";
  return request;
}

HTTPResponse HTTPRequest::GET(const std::string& url, const Parameters& parameters) {
  CurlHandle curl;
  HTTPResponse response(BuildURL(url, parameters));

  _check(curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, _rcv_data));
  _check(curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &response));
  _check(curl_easy_setopt(curl.get(), CURLOPT_URL, response.get_request().c_str()));
  // A server that stops answering must end the run with an error, not hold it for ever.
  _check(curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
  _check(curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L));
  _check(curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, kStallTimeoutSeconds));

  Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
  _check(curl_easy_perform(curl.get()));

  long code = 0;
  _check(curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &code));
  response.set_status(code);
  return response;
}
