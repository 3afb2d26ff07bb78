#include "HTTPResponse.h"

HTTPResponse::HTTPResponse(const std::string& request) : request(request), status(0) {}

void HTTPResponse::process(const char* data, size_t length) { body.append(data, length); }
