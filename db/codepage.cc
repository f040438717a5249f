#include "db/codepage.h"

#include <cstdint>

namespace plom {
namespace {

// Code points of 0x80..0x9F in Windows-1252; 0 where the byte is undefined
// (those bytes map to the C1 control of the same value).
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ToCodePoint(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

char ToByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  }
  if (cp >= 0x80 && cp < 0xA0 && kHigh[cp - 0x80] == 0) return static_cast<char>(cp);
  return '?';
}

void AppendUtf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 16);
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i;
    while (j < s.size() && static_cast<unsigned char>(s[j]) < 0x80) ++j;
    out.append(s.data() + i, j - i);  // a run of 7-bit characters as it is
    if (j == s.size()) break;
    AppendUtf8(&out, ToCodePoint(static_cast<unsigned char>(s[j])));
    i = j + 1;
  }
  return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at s[i] and its code point
// (0 for a byte that starts none: a stray continuation, an overlong form,
// a surrogate, beyond U+10FFFF, or a sequence cut short).
size_t Utf8Sequence(std::string_view s, size_t i, char32_t* cp) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  size_t len = Utf8LeadLength(b);
  if (len < 2 || i + len > s.size()) return 0;
  char32_t v = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t k = 1; k < len; ++k) {
    unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    v = (v << 6) | (c & 0x3F);
  }
  static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kLeast[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

}  // namespace

size_t Utf8LeadLength(unsigned char b) {
  return (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
}

size_t Utf8CharToCp1252(std::string_view s, size_t i, char* byte) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    *byte = static_cast<char>(b);
    return 1;
  }
  char32_t cp = 0;
  size_t len = Utf8Sequence(s, i, &cp);
  *byte = len == 0 ? '?' : ToByte(cp);
  return len == 0 ? 1 : len;
}

std::string Utf8ToCp1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t run = i;
    while (run < s.size() && static_cast<unsigned char>(s[run]) < 0x80) ++run;
    out.append(s.data() + i, run - i);  // a run of 7-bit characters as it is
    i = run;
    if (i == s.size()) break;
    char byte = 0;
    i += Utf8CharToCp1252(s, i, &byte);
    out.push_back(byte);
  }
  return out;
}

std::u16string Cp1252ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (unsigned char b : s) out.push_back(static_cast<char16_t>(ToCodePoint(b)));
  return out;
}

std::string Utf16ToCp1252(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDFFF) {  // surrogate pair: outside Windows-1252
      if (u <= 0xDBFF && i + 1 < s.size()) ++i;
      out.push_back('?');
      continue;
    }
    out.push_back(ToByte(u));
  }
  return out;
}

}  // namespace plom
