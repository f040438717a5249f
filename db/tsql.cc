#include "db/tsql.h"

#include <cctype>
#include <vector>

namespace plom {
namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

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

// Skips a quoted literal or comment starting at i; returns the index after it.
size_t SkipQuoted(std::string_view s, size_t i) {
  char q = s[i];
  if (q == '/' ) {  // "/*" comment
    size_t end = s.find("*/", i + 2);
    return end == std::string_view::npos ? s.size() : end + 2;
  }
  if (q == '-') {  // "--" comment
    size_t end = s.find('\n', i);
    return end == std::string_view::npos ? s.size() : end + 1;
  }
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] == q) {
      if (j + 1 < s.size() && s[j + 1] == q) { ++j; continue; }
      return j + 1;
    }
  }
  return s.size();
}

bool StartsQuoted(std::string_view s, size_t i) {
  char c = s[i];
  if (c == '\'' || c == '"') return true;
  if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') return true;
  if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') return true;
  return false;
}

// The arguments of a call whose "(" is at open; *close receives the index of
// the matching ")". Empty when unbalanced.
std::vector<std::string_view> CallArgs(std::string_view s, size_t open, size_t* close) {
  std::vector<std::string_view> args;
  int depth = 0;
  size_t start = open + 1;
  for (size_t i = open; i < s.size();) {
    if (StartsQuoted(s, i)) { i = SkipQuoted(s, i); continue; }
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

// CONVERT(type, expr, style): the two conversions with style 112.
bool TranslateConvert(const std::vector<std::string_view>& args, std::string* out) {
  if (args.size() != 3 || Lower(args[2]) != "112") return false;
  std::string type = Lower(args[0]);
  if (type == "char(8)" || type == "varchar(8)") {
    *out += "strftime('%Y%m%d', " + Translate(args[1]) + ")";
    return true;
  }
  if (type == "datetime") {
    // CONVERT(datetime, CONVERT(char(8), x, 112), 112): x cut to its date.
    std::string_view inner = StripParens(args[1]);
    if (inner.size() > 8 && EqualsNoCase(inner.substr(0, 7), "CONVERT")) {
      size_t open = inner.find('(');
      size_t close = 0;
      auto in = CallArgs(inner, open, &close);
      if (close + 1 == inner.size() && in.size() == 3 && Lower(in[2]) == "112" &&
          Lower(in[0]) == "char(8)" && Strip(inner.substr(7, open - 7)).empty()) {
        *out += "strftime('%Y-%m-%d 00:00:00', " + Translate(in[1]) + ")";
        return true;
      }
    }
    std::string e = "(" + Translate(args[1]) + ")";
    *out += "(substr(" + e + ",1,4)||'-'||substr(" + e + ",5,2)||'-'||substr(" + e +
            ",7,2)||' 00:00:00')";
    return true;
  }
  return false;
}

// When a parameter @pN starts at i (not inside a name), the index after it;
// otherwise 0.
size_t ParamEnd(std::string_view s, size_t i) {
  if (s[i] != '@' || i + 2 >= s.size() || (s[i + 1] != 'p' && s[i + 1] != 'P') ||
      !std::isdigit(static_cast<unsigned char>(s[i + 2])) || (i > 0 && IsIdentChar(s[i - 1]))) {
    return 0;
  }
  size_t j = i + 2;
  while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
  return j;
}

std::string Translate(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 64);
  size_t i = 0;
  while (i < s.size()) {
    if (StartsQuoted(s, i)) {
      size_t end = SkipQuoted(s, i);
      out.append(s.substr(i, end - i));
      i = end;
      continue;
    }
    char c = s[i];
    if (size_t j = ParamEnd(s, i)) {
      out += "?";
      out.append(s.substr(i + 2, j - i - 2));
      i = j;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < s.size() && (IsIdentChar(s[j]) || s[j] == '.')) ++j;
      out.append(s.substr(i, j - i));
      i = j;
      continue;
    }
    if (!IsIdentStart(c)) {
      out.push_back(c);
      ++i;
      continue;
    }
    size_t j = i;
    while (j < s.size() && IsIdentChar(s[j])) ++j;
    std::string_view word = s.substr(i, j - i);
    // schema.Table
    if (j + 1 < s.size() && s[j] == '.' && IsIdentStart(s[j + 1])) {
      size_t k = j + 1;
      while (k < s.size() && IsIdentChar(s[k])) ++k;
      out += '"';
      out.append(s.substr(i, k - i));
      out += '"';
      i = k;
      continue;
    }
    size_t after = j;
    while (after < s.size() && s[after] == ' ') ++after;
    if (EqualsNoCase(word, "CURRENT_TIMESTAMP")) {
      // CURRENT_TIMESTAMP - n: n days before now.
      size_t k = after;
      if (k < s.size() && s[k] == '-') {
        ++k;
        while (k < s.size() && s[k] == ' ') ++k;
        size_t d = k;
        while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
        if (k > d && (k == s.size() || !IsIdentChar(s[k]))) {
          out += "datetime('now','localtime','-";
          out.append(s.substr(d, k - d));
          out += " days')";
          i = k;
          continue;
        }
      }
      out += "datetime('now','localtime')";
      i = j;
      continue;
    }
    if (after < s.size() && s[after] == '(' &&
        (EqualsNoCase(word, "CONVERT") || EqualsNoCase(word, "DATEPART"))) {
      size_t close = 0;
      auto args = CallArgs(s, after, &close);
      std::string conv;
      if (EqualsNoCase(word, "CONVERT") && TranslateConvert(args, &conv)) {
        out += conv;
        i = close + 1;
        continue;
      }
      if (EqualsNoCase(word, "DATEPART") && args.size() == 2 && Lower(args[0]) == "year") {
        out += "CAST(strftime('%Y', " + Translate(args[1]) + ") AS INTEGER)";
        i = close + 1;
        continue;
      }
    }
    out.append(word);
    i = j;
  }
  return out;
}

// Transaction statements: BEGIN/COMMIT/ROLLBACK/SAVE TRAN[SACTION] [name].
bool TranslateTransaction(std::string_view s, std::string* out) {
  auto w = SqlWords(s);
  if (w.size() < 2 || w.size() > 3) return false;
  if (!EqualsNoCase(w[1], "TRANSACTION") && !EqualsNoCase(w[1], "TRAN")) return false;
  std::string name = w.size() == 3 ? w[2] : "";
  if (EqualsNoCase(w[0], "BEGIN")) {
    *out = "BEGIN IMMEDIATE";
  } else if (EqualsNoCase(w[0], "COMMIT")) {
    *out = "COMMIT";
  } else if (EqualsNoCase(w[0], "ROLLBACK")) {
    *out = "ROLLBACK";
  } else if (EqualsNoCase(w[0], "SAVE") && !name.empty()) {
    *out = "SAVEPOINT " + name;
  } else {
    return false;
  }
  return true;
}

}  // namespace

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

bool SqliteSkipsSavepoint(std::string_view tsql, std::set<std::string>* open) {
  auto w = SqlWords(tsql);
  if (w.size() < 2 || w.size() > 3) return false;
  if (!EqualsNoCase(w[1], "TRANSACTION") && !EqualsNoCase(w[1], "TRAN")) return false;
  std::string name = w.size() == 3 ? w[2] : "";
  if (EqualsNoCase(w[0], "SAVE") && !name.empty()) {
    open->insert(name);
    return true;
  }
  if (EqualsNoCase(w[0], "ROLLBACK") && open->count(name)) return true;
  open->clear();  // BEGIN, COMMIT or a full ROLLBACK
  return false;
}

std::string TranslateForSqlite(std::string_view tsql) {
  std::string tx;
  if (TranslateTransaction(tsql, &tx)) return tx;
  return Translate(tsql);
}

std::string ToOdbcMarkers(std::string_view s, std::string* order) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (StartsQuoted(s, i)) {
      size_t end = SkipQuoted(s, i);
      out.append(s.substr(i, end - i));
      i = end;
      continue;
    }
    if (size_t j = ParamEnd(s, i)) {
      out += '?';
      if (order) {
        order->append(s.substr(i + 2, j - i - 2));
        order->push_back(',');
      }
      i = j;
      continue;
    }
    out.push_back(s[i]);
    ++i;
  }
  return out;
}

}  // namespace plom
