#pragma once

#include <cstdint>

// One typed block of a loaded BIRD file. A plain copyable record: `data` points into the
// owning BirdFile's payload and stays valid while that file lives and is not moved from.
struct BirdBlock {
  uint8_t type = 0;        // 0..31
  uint8_t flags = 0;       // 0..7, handed unchanged to the module's loader
  uint32_t length = 0;     // bytes of block data
  uint32_t address = 0;    // load address for loader and firmware blocks, otherwise 0
  uint8_t* data = nullptr; // first data byte (for loader and firmware: the address bytes)
};
