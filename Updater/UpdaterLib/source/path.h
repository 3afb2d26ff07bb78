#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace path_detail {
std::string Join(std::initializer_list<std::string_view> components);
}

// Joins path components, putting "/" before every component after the first. Separators
// already present are kept as they are, so "a/" and "b" give "a//b": callers pass bare names.
template <typename... Components>
std::string BuildPath(std::string_view first, const Components&... rest) {
  return path_detail::Join({first, std::string_view(rest)...});
}
