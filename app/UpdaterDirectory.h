#pragma once

#include <string>

// HOME/.halvik/updater, the root of the per-user store; empty when the home directory
// can't be read.
std::string _build_updater_directory();
