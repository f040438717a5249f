#include "db/sqlite_collation.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "db/codepage.h"

namespace plom {
namespace {

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

int CompareBytes(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

int CompareCp1252(int n1, const void* a, int n2, const void* b) {
  std::string_view x(static_cast<const char*>(a), static_cast<size_t>(n1));
  std::string_view y(static_cast<const char*>(b), static_cast<size_t>(n2));
  x = WithoutTrailingBlanks(x);
  y = WithoutTrailingBlanks(y);
  if (IsAscii(x) && IsAscii(y)) return CompareBytes(x, y);
  return CompareBytes(Utf8ToCp1252(x), Utf8ToCp1252(y));
}

}  // namespace plom
