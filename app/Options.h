#pragma once

#include <cstdint>

#include "Parameters.h"
#include "UpdaterDisplayInterface.h"

// Fills parameters from the command line; 0 on success, 1 when an option was rejected
// (its message is already shown). Returns 0 at once when help is requested.
int _get_params(UpdaterDisplayInterface& display, int argc, const char* const* argv,
                Parameters& parameters);
int _validate_params(Parameters& parameters);
int _release_params(Parameters& parameters);

// Whole-word parsers: 0, with end untouched, when end is null, when the text holds a
// character outside the base's digits, or when the value does not fit 32 bits.
uint32_t _get_hex_arg(const char* text, const char** end);
uint32_t _get_int_arg(const char* text, const char** end);
