#pragma once

#include "Entity.h"

namespace Halvik {
namespace Zepric {

struct EntityClass::Impl {
  Module* module = nullptr;  // not owned
  uint8_t command = 0;
  uint8_t index = 0;
};

}  // namespace Zepric
}  // namespace Halvik
