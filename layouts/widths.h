// The record width of each download function, in bytes: what the generators
// fill, what the write-out pads the lines to and what the readers of a file
// split it by. IDSTAMM writes quoted comma-separated lines of no fixed width.
#pragma once

#include <cstddef>

namespace plom {

constexpr size_t kWidthVQDNL17P = 85;
constexpr size_t kWidthVQDNL31P = 48;
constexpr size_t kWidthVQDNL18P = 173;
constexpr size_t kWidthVQDNL60P = 45;
constexpr size_t kWidthIDSTAMM = 0;

}  // namespace plom
