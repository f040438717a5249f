#include "db/tsql.h"

#include "db/sqlite_collation.h"

#include <cctype>
#include <vector>

namespace plom {
namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

size_t SkipDigits(std::string_view s, size_t i) {
  while (i < s.size() && IsDigit(s[i])) ++i;
  return i;
}

int NumberAt(std::string_view s, size_t begin, size_t end) {
  int n = 0;
  for (size_t i = begin; i < end && n < 100000; ++i) n = n * 10 + (s[i] - '0');
  return n;
}

std::string_view Strip(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Removes blanks and one level of enclosing parentheses, repeatedly.
std::string_view StripParens(std::string_view s) {
  s = Strip(s);
  while (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
    int depth = 0;
    bool encloses = true;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '(') ++depth;
      if (s[i] == ')' && --depth == 0 && i + 1 < s.size()) {
        encloses = false;
        break;
      }
    }
    if (!encloses) break;
    s = Strip(s.substr(1, s.size() - 2));
  }
  return s;
}

// The marker that starts at s[i], if one does (end == 0 otherwise).
Marker MarkerAt(std::string_view s, size_t i, char sigil) {
  Marker m;
  if (s[i] != sigil) return m;
  if (sigil == '?') {
    m.begin = i;
    m.end = SkipDigits(s, i + 1);
    m.number = NumberAt(s, i + 1, m.end);
    return m;
  }
  bool p = i + 2 < s.size() && (s[i + 1] == 'p' || s[i + 1] == 'P') && IsDigit(s[i + 2]);
  if (!p || (i > 0 && IsIdentChar(s[i - 1]))) return m;
  m.begin = i;
  m.end = SkipDigits(s, i + 2);
  m.number = NumberAt(s, i + 2, m.end);
  return m;
}

// The arguments of a call whose "(" is at open; *close receives the index of
// the matching ")". Empty when unbalanced.
std::vector<std::string_view> CallArgs(std::string_view s, size_t open, size_t* close) {
  std::vector<std::string_view> args;
  int depth = 0;
  size_t start = open + 1;
  for (size_t i = open; i < s.size();) {
    if (size_t end = SkipLiteral(s, i); end != i) {
      i = end;
      continue;
    }
    char c = s[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) {
        args.push_back(s.substr(start, i - start));
        *close = i;
        return args;
      }
    } else if (c == ',' && depth == 1) {
      args.push_back(s.substr(start, i - start));
      start = i + 1;
    }
    ++i;
  }
  args.clear();
  return args;
}

std::string Lower(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (!std::isspace(static_cast<unsigned char>(c))) {
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  return out;
}

std::string Translate(std::string_view s);

// The argument of CONVERT(char(8), x, 112) when inner is exactly that call.
std::optional<std::string_view> DateOfConvert(std::string_view inner) {
  if (inner.size() <= 8 || !EqualsNoCase(inner.substr(0, 7), "CONVERT")) return std::nullopt;
  size_t open = inner.find('(');
  size_t close = 0;
  auto in = CallArgs(inner, open, &close);
  if (close + 1 == inner.size() && in.size() == 3 && Lower(in[2]) == "112" &&
      Lower(in[0]) == "char(8)" && Strip(inner.substr(7, open - 7)).empty()) {
    return in[1];
  }
  return std::nullopt;
}

// CONVERT(datetime, t, 112): t read as yyyymmdd, at midnight. The
// expression appears once in the translation, so nesting stays linear.
std::string DatetimeOf(std::string_view arg) {
  if (auto x = DateOfConvert(StripParens(arg))) {
    return "strftime('%Y-%m-%d 00:00:00', " + Translate(*x) + ")";
  }
  return "(SELECT substr(d,1,4)||'-'||substr(d,5,2)||'-'||substr(d,7,2)||' 00:00:00' FROM "
         "(SELECT (" +
         Translate(arg) + ") AS d))";
}

// CONVERT(type, expr, style): the two conversions with style 112.
bool TranslateConvert(const std::vector<std::string_view>& args, std::string* out) {
  if (args.size() != 3 || Lower(args[2]) != "112") return false;
  std::string type = Lower(args[0]);
  if (type == "char(8)" || type == "varchar(8)") {
    *out += "strftime('%Y%m%d', " + Translate(args[1]) + ")";
    return true;
  }
  if (type == "datetime") {
    *out += DatetimeOf(args[1]);
    return true;
  }
  return false;
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && s[i] == ' ') ++i;
  return i;
}

// CURRENT_TIMESTAMP [- n] whose word ends at j; returns the index after it.
size_t TranslateNow(std::string_view s, size_t j, std::string* out) {
  size_t k = SkipBlanks(s, j);
  if (k < s.size() && s[k] == '-') {
    size_t d = SkipBlanks(s, k + 1);
    size_t e = SkipDigits(s, d);
    if (e > d && (e == s.size() || !IsIdentChar(s[e]))) {
      *out += "datetime('now','localtime','-";
      out->append(s.substr(d, e - d));
      *out += " days')";
      return e;
    }
  }
  *out += "datetime('now','localtime')";
  return j;
}

// CONVERT(...) or DATEPART(year, ...) with "(" at open; returns the index
// after the call, or 0 when it is not one the translation knows.
size_t TranslateCall(std::string_view s, std::string_view word, size_t open, std::string* out) {
  size_t close = 0;
  auto args = CallArgs(s, open, &close);
  if (EqualsNoCase(word, "CONVERT") && TranslateConvert(args, out)) return close + 1;
  if (EqualsNoCase(word, "DATEPART") && args.size() == 2 && Lower(args[0]) == "year") {
    *out += "CAST(strftime('%Y', " + Translate(args[1]) + ") AS INTEGER)";
    return close + 1;
  }
  return 0;
}

// A sum of two or more COALESCE(...) terms whose first "(" is at open:
// written as a call of the 32-bit sum, which adds left to right and fails
// where SQL Server's int addition overflows. Returns the index after the
// last term, or 0 when there is no such sum.
size_t TranslateSum(std::string_view s, size_t open, std::string* out) {
  std::vector<std::string_view> terms;
  size_t term = open - std::string_view("COALESCE").size();
  for (size_t at = open;;) {
    size_t close = 0;
    if (CallArgs(s, at, &close).empty()) break;
    terms.push_back(s.substr(term, close + 1 - term));
    size_t plus = SkipBlanks(s, close + 1);
    size_t next = SkipBlanks(s, plus + 1);
    if (plus >= s.size() || s[plus] != '+' || s.substr(next, 8).size() < 8 ||
        !EqualsNoCase(s.substr(next, 8), "COALESCE")) {
      break;
    }
    at = SkipBlanks(s, next + 8);
    if (at >= s.size() || s[at] != '(') break;
    term = next;
  }
  if (terms.size() < 2) return 0;
  *out += kInt32Sum;
  *out += '(';
  for (size_t i = 0; i < terms.size(); ++i) {
    if (i > 0) *out += ", ";
    *out += "COALESCE";
    out->append(Translate(terms[i].substr(8)));
  }
  *out += ')';
  return static_cast<size_t>(terms.back().data() + terms.back().size() - s.data());
}

// The name or keyword starting at i; returns the index after what it
// consumed.
size_t TranslateWord(std::string_view s, size_t i, std::string* out) {
  size_t j = i;
  while (j < s.size() && IsIdentChar(s[j])) ++j;
  std::string_view word = s.substr(i, j - i);
  if (j + 1 < s.size() && s[j] == '.' && IsIdentStart(s[j + 1])) {  // schema.Table
    size_t k = j + 1;
    while (k < s.size() && IsIdentChar(s[k])) ++k;
    *out += '"';
    out->append(s.substr(i, k - i));
    *out += '"';
    return k;
  }
  if (EqualsNoCase(word, "CURRENT_TIMESTAMP")) return TranslateNow(s, j, out);
  size_t after = SkipBlanks(s, j);
  if (after < s.size() && s[after] == '(' &&
      (EqualsNoCase(word, "CONVERT") || EqualsNoCase(word, "DATEPART"))) {
    if (size_t end = TranslateCall(s, word, after, out)) return end;
  }
  if (after == j && after < s.size() && s[after] == '(' && EqualsNoCase(word, "COALESCE")) {
    if (size_t end = TranslateSum(s, after, out)) return end;
  }
  out->append(word);
  return j;
}

std::string Translate(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 64);
  size_t i = 0;
  while (i < s.size()) {
    size_t next = SkipLiteral(s, i);
    if (next != i) {
      out.append(s.substr(i, next - i));
    } else if (Marker m = MarkerAt(s, i, '@'); m.end != 0) {
      out += '?';
      out.append(s.substr(m.begin + 2, m.end - m.begin - 2));
      next = m.end;
    } else if (IsDigit(s[i])) {
      next = i;
      while (next < s.size() && (IsIdentChar(s[next]) || s[next] == '.')) ++next;
      out.append(s.substr(i, next - i));
    } else if (IsIdentStart(s[i])) {
      next = TranslateWord(s, i, &out);
    } else {
      out.push_back(s[i]);
      next = i + 1;
    }
    i = next;
  }
  return out;
}

std::string SqliteTransaction(const TransactionStatement& t) {
  switch (t.kind) {
    case TransactionStatement::Kind::kBegin:
      return "BEGIN IMMEDIATE";
    case TransactionStatement::Kind::kCommit:
      return "COMMIT";
    case TransactionStatement::Kind::kRollback:
      return "ROLLBACK";
    case TransactionStatement::Kind::kSave:
      return "SAVEPOINT " + t.name;
  }
  return std::string();
}

}  // namespace

size_t SkipLiteral(std::string_view s, size_t i) {
  if (i >= s.size()) return i;
  char q = s[i];
  bool pair = i + 1 < s.size();
  if (q == '/' && pair && s[i + 1] == '*') {
    size_t end = s.find("*/", i + 2);
    return end == std::string_view::npos ? s.size() : end + 2;
  }
  if (q == '-' && pair && s[i + 1] == '-') {
    size_t end = s.find('\n', i);
    return end == std::string_view::npos ? s.size() : end + 1;
  }
  if (q != '\'' && q != '"') return i;
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != q) continue;
    if (j + 1 < s.size() && s[j + 1] == q) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return s.size();
}

std::vector<Marker> FindMarkers(std::string_view s, char sigil) {
  std::vector<Marker> markers;
  size_t i = 0;
  while (i < s.size()) {
    if (size_t end = SkipLiteral(s, i); end != i) {
      i = end;
      continue;
    }
    Marker m = MarkerAt(s, i, sigil);
    if (m.end == 0) {
      ++i;
      continue;
    }
    if (m.number == 0) m.number = static_cast<int>(markers.size()) + 1;
    markers.push_back(m);
    i = m.end;
  }
  return markers;
}

std::string PlainMarkers(std::string_view s, char sigil, std::vector<int>* order) {
  if (order) order->clear();
  std::string out;
  out.reserve(s.size());
  size_t at = 0;
  for (const Marker& m : FindMarkers(s, sigil)) {
    out.append(s.substr(at, m.begin - at));
    out += '?';
    at = m.end;
    if (order) order->push_back(m.number);
  }
  out.append(s.substr(at));
  return out;
}

std::optional<TransactionStatement> ParseTransaction(std::string_view tsql) {
  // Up to four words, without copying: most texts stop at the fourth.
  std::string_view w[4];
  size_t n = 0, i = 0;
  while (n < 4) {
    while (i < tsql.size() && std::isspace(static_cast<unsigned char>(tsql[i]))) ++i;
    if (i == tsql.size()) break;
    size_t j = i;
    while (j < tsql.size() && !std::isspace(static_cast<unsigned char>(tsql[j]))) ++j;
    w[n++] = tsql.substr(i, j - i);
    i = j;
  }
  if (n < 2 || n > 3) return std::nullopt;
  if (!EqualsNoCase(w[1], "TRANSACTION") && !EqualsNoCase(w[1], "TRAN")) return std::nullopt;
  TransactionStatement t;
  if (n == 3) t.name = std::string(w[2]);
  using Kind = TransactionStatement::Kind;
  if (EqualsNoCase(w[0], "BEGIN")) {
    t.kind = Kind::kBegin;
  } else if (EqualsNoCase(w[0], "COMMIT")) {
    t.kind = Kind::kCommit;
  } else if (EqualsNoCase(w[0], "ROLLBACK")) {
    t.kind = Kind::kRollback;
  } else if (EqualsNoCase(w[0], "SAVE") && !t.name.empty()) {
    t.kind = Kind::kSave;
  } else {
    return std::nullopt;
  }
  return t;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> SqlWords(std::string_view s) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    size_t j = i;
    while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
    if (j > i) words.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return words;
}

std::string TranslateForSqlite(std::string_view tsql) {
  if (auto t = ParseTransaction(tsql)) return SqliteTransaction(*t);
  return Translate(tsql);
}

}  // namespace plom
