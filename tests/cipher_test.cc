#include "config/cipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace plom {
namespace {

// a * b mod 65537 in 64 bits, with 0 standing for 65536.
uint16_t RefMul(uint32_t a, uint32_t b) {
  uint64_t p = uint64_t(a ? a : 65536) * (b ? b : 65536) % 65537;
  return static_cast<uint16_t>(p);  // 65536 -> 0
}

std::string Groups(const std::vector<uint16_t>& words) {
  std::string s;
  for (uint16_t w : words) {
    char g[8];
    std::snprintf(g, sizeof g, "%05u", unsigned(w));
    s += g;
  }
  return s;
}

const IdeaKeyTable& Ek() {
  static const IdeaKeyTable ek = IdeaExpandKey(kConfigKey);
  return ek;
}
const IdeaKeyTable& Dk() {
  static const IdeaKeyTable dk = IdeaInvertKey(Ek());
  return dk;
}

TEST(IdeaTest, MulEdgeCases) {
  struct {
    uint16_t a, b, want;
  } cases[] = {
      {0, 0, 1},     {0, 1, 0},     {1, 0, 0},     {1, 1, 1},         {0, 2, 65535},
      {2, 0, 65535}, {256, 256, 0}, {32768, 2, 0}, {65535, 65535, 4}, {65535, 2, 65533},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IdeaMul(c.a, c.b), c.want) << c.a << " * " << c.b;
  }
}

TEST(IdeaTest, MulMatchesModularProduct) {
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; i++) {
    uint16_t a = rng(), b = rng();
    ASSERT_EQ(IdeaMul(a, b), RefMul(a, b)) << a << " * " << b;
  }
}

TEST(IdeaTest, MulInvIsInverseForEveryWord) {
  EXPECT_EQ(IdeaMulInv(0), 0);
  EXPECT_EQ(IdeaMulInv(1), 1);
  EXPECT_EQ(IdeaMulInv(65535), 32768);  // -2 * 32768 = -65536 = 1
  for (uint32_t a = 0; a <= 0xFFFF; a++) {
    ASSERT_EQ(IdeaMul(uint16_t(a), IdeaMulInv(uint16_t(a))), 1) << a;
  }
}

// The published test vector of IDEA.
TEST(IdeaTest, KnownAnswer) {
  const IdeaKeyTable ek = IdeaExpandKey(IdeaKey{1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(ek[1][2], 0x0400);  // first subkey of the rotated key
  const std::vector<uint16_t> plain = {0, 1, 2, 3};
  const std::vector<uint16_t> want = {0x11FB, 0xED2B, 0x0198, 0x6DE5};
  EXPECT_EQ(IdeaBlocks(plain, ek), want);
  EXPECT_EQ(IdeaBlocks(want, IdeaInvertKey(ek)), plain);
  // The configuration key: character codes, then the terminating zero.
  EXPECT_EQ(IdeaKeyFromText(kConfigKey), (IdeaKey{'K', 'A', 'V', 'O', 'R', 'N', 'E', 0}));
  EXPECT_EQ(IdeaKeyFromText("ABCDEFGHIJ")[7], 'H');
}

TEST(IdeaTest, BlocksRoundTripAndFill) {
  std::mt19937 rng(11);
  for (int i = 0; i < 1000; i++) {
    std::vector<uint16_t> w = {uint16_t(rng()), uint16_t(rng()), uint16_t(rng()), uint16_t(rng())};
    ASSERT_EQ(IdeaBlocks(IdeaBlocks(w, Ek()), Dk()), w);
  }
  EXPECT_TRUE(IdeaBlocks({}, Ek()).empty());
  // A short last block is filled up with zero words and yields four words.
  const std::vector<uint16_t> five = {1, 2, 3, 4, 5};
  const std::vector<uint16_t> out = IdeaBlocks(five, Ek());
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(std::vector<uint16_t>(out.begin() + 4, out.end()),
            IdeaBlocks(std::vector<uint16_t>{5, 0, 0, 0}, Ek()));
}

TEST(CipherTest, DecimalPrefix) {
  struct {
    const char* text;
    int32_t want;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"00042", 42},
      {"  \t\n7", 7},
      {"+12", 12},
      {"-13x9", -13},
      {"- 5", 0},
      {"2147483647", INT32_MAX},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalPrefix(c.text), c.want) << c.text;
}

TEST(CipherTest, RoundTrip) {
  const std::string texts[] = {
      "",
      "a",
      "ab",
      "abc",
      "abcd",
      "abcde",
      "sa",
      "Pa;ss w\xE4rd\n",
      std::string(40, 'x'),
      std::string(kMaxCipherGroups, 'y'),
  };
  for (const std::string& t : texts) {
    const std::string enc = EncipherValue(t);
    EXPECT_EQ(enc.size(), (t.size() + 3) / 4 * 20) << t;
    EXPECT_EQ(enc.find_first_not_of("0123456789"), std::string::npos) << enc;
    EXPECT_EQ(DecipherValue(enc), t);
  }
  // Another key gives another stored form.
  EXPECT_NE(EncipherValue("abcd", "OTHER"), EncipherValue("abcd"));
  EXPECT_EQ(DecipherValue(EncipherValue("abcd", "OTHER"), "OTHER"), "abcd");
}

TEST(CipherTest, ShortAndPartialGroups) {
  const std::string abcd = EncipherValue("ABCD");
  for (size_t n = 0; n < 5; n++) EXPECT_EQ(DecipherValue(abcd.substr(0, n)), "") << n;
  // 22 digits: four words, one block; the two extra digits are ignored.
  EXPECT_EQ(DecipherValue(abcd + "99"), "ABCD");
  EXPECT_EQ(DecipherValue(abcd + "9999"), "ABCD");
}

TEST(CipherTest, FifthGroupDecipheredWithZeroFill) {
  // A word that the filled-up block (w, 0, 0, 0) deciphers to 'E'.
  int word = -1;
  for (int w = 0; w <= 0xFFFF && word < 0; w++) {
    if ((IdeaBlocks(std::vector<uint16_t>{uint16_t(w), 0, 0, 0}, Dk())[0] & 0xFF) == 'E') word = w;
  }
  ASSERT_GE(word, 0);
  EXPECT_EQ(DecipherValue(EncipherValue("ABCD") + Groups({uint16_t(word)})), "ABCDE");
}

TEST(CipherTest, LowByteZeroEndsAndHighByteIsDropped) {
  auto stored = [](std::vector<uint16_t> w) { return Groups(IdeaBlocks(w, Ek())); };
  EXPECT_EQ(DecipherValue(stored({'A', 0x0100, 'B', 'C'})), "A");
  EXPECT_EQ(DecipherValue(stored({0, 'B', 'C', 'D'})), "");
  EXPECT_EQ(DecipherValue(stored({'A', 'B', 'C', 'D', 'E', 0, 'F', 'G'})), "ABCDE");
  EXPECT_EQ(DecipherValue(stored({0x1241, 0xFF42, 0x0043, 0x7F44})), "ABCD");
}

TEST(CipherTest, OddGroups) {
  // A block whose first stored word leaves room to add 65536 in five digits.
  std::vector<uint16_t> c;
  uint16_t last = 'Z';
  for (; last < 0x7F; last++) {
    c = IdeaBlocks(std::vector<uint16_t>{'W', 'X', 'Y', last}, Ek());
    if (c[0] <= 99999 - 65536) break;
  }
  ASSERT_LT(last, 0x7F);
  const std::string plain = {'W', 'X', 'Y', char(last)};
  const std::string tail = Groups({c[1], c[2], c[3]});
  EXPECT_EQ(DecipherValue(Groups({c[0]}) + tail), plain);
  // Groups above 65535 and negative groups wrap round to their low 16 bits.
  char g[8];
  std::snprintf(g, sizeof g, "%05u", unsigned(c[0]) + 65536);
  EXPECT_EQ(DecipherValue(g + tail), plain);
  EXPECT_EQ(DecipherValue("-0001" + tail), DecipherValue("65535" + tail));
  EXPECT_EQ(DecipherValue("   12" + tail), DecipherValue("00012" + tail));
  EXPECT_EQ(DecipherValue("12x45" + tail), DecipherValue("00012" + tail));
  // More groups than one call handles are refused.
  EXPECT_EQ(DecipherValue(EncipherValue(std::string(kMaxCipherGroups + 1, 'y'))), "");
  const std::string full = EncipherValue(std::string(kMaxCipherGroups, 'y'));
  EXPECT_EQ(DecipherValue(full + "1234"), std::string(kMaxCipherGroups, 'y'));
  EXPECT_EQ(DecipherValue(full + "12345"), "");
}

}  // namespace
}  // namespace plom
