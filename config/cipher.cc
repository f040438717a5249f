#include "config/cipher.h"

#include <climits>
#include <cstdio>

namespace plom {

namespace {

constexpr uint32_t kModulus = 65537;  // 2^16 + 1, prime
constexpr int kRounds = 8;
constexpr int kSubkeys = 52;  // 8 rounds of 6, then 4 for the output
constexpr size_t kGroupWidth = 5;

uint16_t Neg(uint16_t a) { return static_cast<uint16_t>(0u - a); }

}  // namespace

uint16_t IdeaMul(uint16_t a, uint16_t b) {
  if (a == 0) return static_cast<uint16_t>(kModulus - b);
  if (b == 0) return static_cast<uint16_t>(kModulus - a);
  uint32_t p = static_cast<uint32_t>(a) * b;
  int32_t r = static_cast<int32_t>(p & 0xFFFF) - static_cast<int32_t>(p >> 16);
  if (r <= 0) r += kModulus;
  return static_cast<uint16_t>(r);  // 65536 becomes 0
}

uint16_t IdeaMulInv(uint16_t a) {
  if (a <= 1) return a;
  // Extended Euclid on (65537, a), carrying the coefficient of a.
  int32_t r0 = kModulus, r1 = a;
  int32_t t0 = 0, t1 = 1;
  while (r1 != 0) {
    int32_t q = r0 / r1;
    int32_t r = r0 - q * r1;
    r0 = r1;
    r1 = r;
    int32_t t = t0 - q * t1;
    t0 = t1;
    t1 = t;
  }
  if (t0 < 0) t0 += kModulus;
  return static_cast<uint16_t>(t0);
}

IdeaKey IdeaKeyFromText(std::string_view key_text) {
  IdeaKey key{};
  for (size_t i = 0; i < key.size() && i < key_text.size(); i++) {
    key[i] = static_cast<unsigned char>(key_text[i]);
  }
  return key;
}

IdeaKeyTable IdeaExpandKey(const IdeaKey& key) {
  // Each group of eight subkeys is the key rotated left by 25 bits more than
  // the group before.
  uint16_t z[kSubkeys];
  for (int j = 0; j < 8; j++) z[j] = key[j];
  for (int j = 8; j < kSubkeys; j++) {
    uint16_t hi, lo;
    switch (j % 8) {
      case 6:
        hi = z[j - 7];
        lo = z[j - 14];
        break;
      case 7:
        hi = z[j - 15];
        lo = z[j - 14];
        break;
      default:
        hi = z[j - 7];
        lo = z[j - 6];
        break;
    }
    z[j] = static_cast<uint16_t>((hi << 9) ^ (lo >> 7));
  }
  IdeaKeyTable table{};
  for (int j = 0; j < kSubkeys; j++) table[j / 6][j % 6] = z[j];
  return table;
}

IdeaKeyTable IdeaExpandKey(std::string_view key_text) {
  return IdeaExpandKey(IdeaKeyFromText(key_text));
}

IdeaKeyTable IdeaInvertKey(const IdeaKeyTable& e) {
  IdeaKeyTable d{};
  for (int r = 0; r <= kRounds; r++) {
    const int c = kRounds - r;  // the column the subkeys move to
    d[c][0] = IdeaMulInv(e[r][0]);
    d[c][3] = IdeaMulInv(e[r][3]);
    // The inner rounds swap the middle words, so their additive subkeys
    // cross; the first and the last transformation keep them in place.
    const bool outer = (r == 0 || r == kRounds);
    d[c][1] = Neg(outer ? e[r][1] : e[r][2]);
    d[c][2] = Neg(outer ? e[r][2] : e[r][1]);
  }
  for (int r = 0; r < kRounds; r++) {
    d[kRounds - 1 - r][4] = e[r][4];
    d[kRounds - 1 - r][5] = e[r][5];
  }
  return d;
}

std::vector<uint16_t> IdeaBlocks(std::span<const uint16_t> words, const IdeaKeyTable& table) {
  const size_t n = words.size();
  std::vector<uint16_t> out((n + 3) / 4 * 4);
  for (size_t start = 0; start < n; start += 4) {
    uint16_t x[4];
    for (size_t i = 0; i < 4; i++) {
      x[i] = start + i < n ? words[start + i] : 0;
    }
    uint16_t x1 = x[0], x2 = x[1], x3 = x[2], x4 = x[3];
    for (int r = 0; r < kRounds; r++) {
      const auto& k = table[r];
      x1 = IdeaMul(x1, k[0]);
      x2 = static_cast<uint16_t>(x2 + k[1]);
      x3 = static_cast<uint16_t>(x3 + k[2]);
      x4 = IdeaMul(x4, k[3]);
      uint16_t t0 = IdeaMul(k[4], x1 ^ x3);
      uint16_t t1 = IdeaMul(k[5], static_cast<uint16_t>(t0 + (x2 ^ x4)));
      uint16_t t2 = static_cast<uint16_t>(t0 + t1);
      x1 ^= t1;
      x4 ^= t2;
      uint16_t old_x2 = x2;
      x2 = x3 ^ t1;
      x3 = old_x2 ^ t2;
    }
    const auto& k = table[kRounds];
    out[start] = IdeaMul(x1, k[0]);
    out[start + 1] = static_cast<uint16_t>(x3 + k[1]);
    out[start + 2] = static_cast<uint16_t>(x2 + k[2]);
    out[start + 3] = IdeaMul(x4, k[3]);
  }
  return out;
}

int32_t DecimalPrefix(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    i++;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    i++;
  }
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

std::string DecipherValue(std::string_view enciphered, std::string_view key_text) {
  const size_t groups = enciphered.size() / kGroupWidth;
  if (groups == 0 || groups > static_cast<size_t>(kMaxCipherGroups)) return {};
  std::vector<uint16_t> words(groups);
  for (size_t i = 0; i < groups; i++) {
    int32_t v = DecimalPrefix(enciphered.substr(i * kGroupWidth, kGroupWidth));
    words[i] = static_cast<uint16_t>(static_cast<uint32_t>(v));
  }
  const IdeaKeyTable dk = IdeaInvertKey(IdeaExpandKey(key_text));
  const std::vector<uint16_t> plain = IdeaBlocks(words, dk);
  std::string text;
  for (size_t i = 0; i < groups; i++) {
    char c = static_cast<char>(plain[i] & 0xFF);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

std::string EncipherValue(std::string_view plain, std::string_view key_text) {
  std::vector<uint16_t> words(plain.size());
  for (size_t i = 0; i < plain.size(); i++) {
    words[i] = static_cast<unsigned char>(plain[i]);
  }
  const std::vector<uint16_t> cipher = IdeaBlocks(words, IdeaExpandKey(key_text));
  std::string text;
  text.reserve(cipher.size() * kGroupWidth);
  for (uint16_t w : cipher) {
    char group[8];
    std::snprintf(group, sizeof group, "%05u", static_cast<unsigned>(w));
    text += group;
  }
  return text;
}

}  // namespace plom
