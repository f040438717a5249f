// Bad input never crashes the text handling: random bytes through the
// statement translation, the code page conversion, the value cipher and the
// configuration reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/cipher.h"
#include "config/config_file.h"
#include "db/codepage.h"
#include "db/tsql.h"
#include "tests/test_util.h"

namespace plom {
namespace {

// Deterministic random texts, biased towards the characters that steer the
// parsers.
class Texts {
 public:
  std::string Next() {
    static const char kSpecial[] =
        "'\"();,.@p1%s-*/ \r\n\tCONVERTCURRENT_TIMESTAMPDATEPART0123456789";
    size_t len = Draw() % 200;
    std::string s;
    for (size_t i = 0; i < len; ++i) {
      uint64_t d = Draw();
      s.push_back(d % 3 == 0 ? static_cast<char>(d >> 8)
                             : kSpecial[(d >> 8) % (sizeof kSpecial - 1)]);
    }
    return s;
  }

 private:
  uint64_t Draw() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return state_ >> 17;
  }
  uint64_t state_ = 7;
};

TEST(Robustness, RandomTextsThroughTheParsers) {
  Texts texts;
  std::string dir = test::TempDir();
  for (int i = 0; i < 3000; ++i) {
    std::string s = texts.Next();
    std::vector<int> order;
    TranslateForSqlite(s);
    ToOdbcMarkers(s, &order);
    SqlWords(s);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(s)), s);
    Utf8ToCp1252(s);
    EXPECT_LE(DecipherValue(s).size(), s.size() / 5);
    if (i % 30 == 0) {
      test::WriteFile(dir + "/k.ini", s + "\n" + texts.Next() + "\n" + s);
      ConfigEntry e = ConfigLookup("", "LOGIN", 0, dir + "/k.ini");
      EXPECT_LE(e.value.size(), 200u);
    }
  }
}

}  // namespace
}  // namespace plom
