#include "path.h"

std::string path_detail::Join(std::initializer_list<std::string_view> components) {
  std::string joined;
  bool first = true;
  for (std::string_view component : components) {
    if (!first) joined += '/';
    joined += component;
    first = false;
  }
  return joined;
}
