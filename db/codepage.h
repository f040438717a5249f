// Conversion between the tool's Windows-1252 byte strings and the UTF-8 or
// UTF-16 text of a database backend.
#pragma once

#include <string>
#include <string_view>

namespace plom {

std::string Cp1252ToUtf8(std::string_view s);
// A character that Windows-1252 lacks becomes "?"; so does each byte that
// is not part of well-formed UTF-8 (overlong forms, surrogates, code points
// beyond U+10FFFF, stray or missing continuation bytes).
std::string Utf8ToCp1252(std::string_view s);
// The character of a UTF-8 text at s[i] (i < s.size()) as Utf8ToCp1252
// converts it: its Windows-1252 byte goes to *byte, and the number of bytes
// of s it takes is returned (1 for a byte that is not part of well-formed
// UTF-8). Where a character starts depends only on the bytes from there
// up to the length its first byte announces.
size_t Utf8CharToCp1252(std::string_view s, size_t i, char* byte);
// The length a UTF-8 character that starts with this byte would have: 1
// for a 7-bit byte or one that starts no sequence, else 2 to 4.
size_t Utf8LeadLength(unsigned char b);

std::u16string Cp1252ToUtf16(std::string_view s);
std::string Utf16ToCp1252(std::u16string_view s);

// Whether the text holds only 7-bit characters (no conversion needed).
bool IsAscii(std::string_view s);

}  // namespace plom
