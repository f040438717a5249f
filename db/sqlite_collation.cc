#include "db/sqlite_collation.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "db/codepage.h"

namespace plom {
namespace {

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Where the characters of two UTF-8 texts that agree in their first k
// bytes may first differ: the start of the character that holds byte k.
// Every character that ends before byte k is the same in both (where a
// character starts and what it is depends only on its own bytes), and a
// 7-bit byte is a character of its own, so the search starts after the
// last one before k.
size_t FirstCharacterThatMayDiffer(std::string_view x, size_t k) {
  size_t at = k;
  while (at > 0 && static_cast<unsigned char>(x[at - 1]) >= 0x80) --at;
  while (at < k) {
    size_t announced = Utf8LeadLength(static_cast<unsigned char>(x[at]));
    if (at + announced > k) break;  // reaches the first differing byte
    char byte = 0;
    at += Utf8CharToCp1252(x, at, &byte);
  }
  return at;
}

}  // namespace

bool AddInt32(const long long* terms, int n, long long* sum) {
  long long s = 0;
  for (int i = 0; i < n; ++i) {
    s += terms[i];
    if (s > 2147483647LL || s < -2147483648LL || terms[i] > 2147483647LL ||
        terms[i] < -2147483648LL) {
      return false;
    }
  }
  *sum = s;
  return true;
}

// The order of Utf8ToCp1252(x) and Utf8ToCp1252(y) without converting
// either: the equal bytes in front are skipped, and only from the character
// where they part are characters converted and compared one by one.
int CompareCp1252(int n1, const void* a, int n2, const void* b) {
  std::string_view x(static_cast<const char*>(a), static_cast<size_t>(n1));
  std::string_view y(static_cast<const char*>(b), static_cast<size_t>(n2));
  x = WithoutTrailingBlanks(x);
  y = WithoutTrailingBlanks(y);
  size_t common = std::min(x.size(), y.size());
  size_t k = static_cast<size_t>(
      std::mismatch(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(common), y.begin()).first -
      x.begin());
  if (k == common && x.size() == y.size()) return 0;
  size_t i = FirstCharacterThatMayDiffer(x, k), j = i;
  while (i < x.size() && j < y.size()) {
    char cx = 0, cy = 0;
    i += Utf8CharToCp1252(x, i, &cx);
    j += Utf8CharToCp1252(y, j, &cy);
    if (cx != cy) return static_cast<unsigned char>(cx) < static_cast<unsigned char>(cy) ? -1 : 1;
  }
  if (i < x.size()) return 1;
  return j < y.size() ? -1 : 0;
}

}  // namespace plom
