// The configuration value cipher: IDEA (64-bit blocks of four 16-bit words,
// 128-bit key, 8 rounds and an output transformation), applied to each block
// on its own, and the digit-group text form of the values stored in the
// configuration file.
//
// A stored value is a string of decimal digits read in groups of five; each
// group is one 16-bit word, four words make one block. Deciphered, each word
// gives one character, its low byte; a character of code 0 ends the text.
//
// Nothing here keeps state; every routine may be called from anywhere.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plom {

// The key under which every configuration value is stored.
constexpr char kConfigKey[] = "KAVORNE";

// One call handles at most this many digit groups (13 blocks). A longer
// enciphered text is refused: it deciphers to an empty text.
constexpr int kMaxCipherGroups = 52;

// The 128-bit key as eight words, the first the most significant.
using IdeaKey = std::array<uint16_t, 8>;

// A subkey table: table[r][m] is subkey m (0..5) of round r (0..7);
// table[8][0..3] are the four subkeys of the output transformation and
// table[8][4..5] stay 0.
using IdeaKeyTable = std::array<std::array<uint16_t, 6>, 9>;

// a times b modulo 65537, the word 0 standing for 65536 on both sides and in
// the result. IdeaMul(0, 0) == 1, IdeaMul(0, 1) == 0.
uint16_t IdeaMul(uint16_t a, uint16_t b);

// The inverse of a under IdeaMul: IdeaMul(a, IdeaMulInv(a)) == 1 for every
// word. IdeaMulInv(0) == 0 (65536 is its own inverse), IdeaMulInv(1) == 1.
uint16_t IdeaMulInv(uint16_t a);

// The key made from a key text: word i (0..7) is the code of character i,
// high byte 0; characters beyond the end of the text count as 0 and
// characters after the eighth are not used. "KAVORNE" thus gives the seven
// character codes and a final word 0 (the text's terminating zero).
IdeaKey IdeaKeyFromText(std::string_view key_text);

// The enciphering subkey table of a key (the standard IDEA key schedule).
IdeaKeyTable IdeaExpandKey(const IdeaKey& key);
IdeaKeyTable IdeaExpandKey(std::string_view key_text);

// The deciphering subkey table belonging to an enciphering table.
IdeaKeyTable IdeaInvertKey(const IdeaKeyTable& enciphering);

// Runs the cipher over the words, four per block. A short last block is
// filled up with 0 words, so the result holds the word count rounded up to a
// multiple of 4 (all four output words of every block). No words give an
// empty result. With the enciphering table it enciphers, with the
// deciphering table it deciphers.
std::vector<uint16_t> IdeaBlocks(std::span<const uint16_t> words, const IdeaKeyTable& table);

// The standard decimal text-to-integer reading of the start of a text:
// leading white space skipped, an optional sign, then digits up to the first
// other character; no digits give 0. Values beyond the int32 range are held
// at its limits.
int32_t DecimalPrefix(std::string_view text);

// The plain text of an enciphered value.
//
// The text is read in groups of five characters (characters after the last
// whole group are ignored); each group is read with DecimalPrefix and taken
// modulo 65536, so a group above 65535 (or a negative one) wraps round to its
// low 16 bits. The words are deciphered under the key text and each gives the
// low byte of its deciphered word as one character, up to the first 0 byte.
// A text of fewer than five characters gives an empty text, and so does one
// of more than kMaxCipherGroups groups. Nothing is reported: any text yields
// some output, at most one character per group.
std::string DecipherValue(std::string_view enciphered, std::string_view key_text = kConfigKey);

// The stored form of a plain value, the inverse of DecipherValue: the
// character codes as words, filled up with 0 words to whole blocks,
// enciphered, each word written as five decimal digits with leading zeros.
// A value whose length is a multiple of 4 gets no fill: its deciphered text
// ends with the last group. An empty value gives an empty text. A value of n
// characters takes 20 * ceil(n / 4) digits; only values of up to
// kMaxCipherGroups characters decipher again, and a character of code 0
// ends the deciphered text there.
std::string EncipherValue(std::string_view plain, std::string_view key_text = kConfigKey);

}  // namespace plom
