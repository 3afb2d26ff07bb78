#pragma once

#include <string>

// Writes the usage texts to stderr: the summary always; with full, the parameters and
// commands, the extended block when extended, and the samples.
void _display_usage(bool extended, bool full);

// "host:port" of an http(s) URL, with the scheme's port when the URL names none.
std::string _server_host_and_port(const std::string& url);
