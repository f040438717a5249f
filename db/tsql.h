// The tool's SQL Server statement texts: one lexer, the parser of the
// transaction statements, and the translation into SQLite SQL.
//
// The statements use a small part of T-SQL, and only that is translated:
//   @p1, @p2                         -> ?1, ?2
//   schema.Table                     -> "schema.Table"
//   CONVERT(char(8), x, 112)         -> x as yyyymmdd
//   CONVERT(datetime, t, 112)        -> the date t (yyyymmdd) at midnight
//   CURRENT_TIMESTAMP, CURRENT_TIMESTAMP-n -> local now, n days before
//   DATEPART(year, x)                -> the year of x as integer
//   COALESCE(a,0) + COALESCE(b,0) ...  -> plom_add32(...): int addition as
//                                       SQL Server does it (overflow fails)
//   BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION [name] -> SQLite transactions
// Everything else (string literals, comments, quoted names) passes as it is.
// The translation is at most linear in the size of the text.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plom {

// The lexer: the end of the literal, quoted name or comment ('...', "...",
// /*...*/, --...) that starts at s[i], or i when none starts there. An
// unterminated one runs to the end of the text.
size_t SkipLiteral(std::string_view s, size_t i);

// A parameter marker of a statement text: @pN in the tool's texts, ?N or a
// bare ? in a translated text. number is N (1-based); a bare "?" is
// numbered by its position among the markers.
struct Marker {
  size_t begin = 0;
  size_t end = 0;
  int number = 0;
};
// The markers outside literals and comments, in text order. sigil is '@'
// for @pN (not inside a name) or '?' for ?N and ?.
std::vector<Marker> FindMarkers(std::string_view s, char sigil);

// The text with each of its markers replaced by "?"; *order (when not null)
// receives each marker's parameter number in the order of the markers.
std::string PlainMarkers(std::string_view s, char sigil, std::vector<int>* order);

// Rewrites @p1, @p2 ... into ODBC parameter markers "?".
inline std::string ToOdbcMarkers(std::string_view tsql, std::vector<int>* order = nullptr) {
  return PlainMarkers(tsql, '@', order);
}

// BEGIN/COMMIT/ROLLBACK/SAVE TRAN[SACTION] [name], the only transaction
// statements the tool sends. SAVE needs a name.
struct TransactionStatement {
  enum class Kind { kBegin, kCommit, kRollback, kSave };
  Kind kind = Kind::kBegin;
  std::string name;  // empty when none is given
};
std::optional<TransactionStatement> ParseTransaction(std::string_view tsql);
inline bool IsTransactionText(std::string_view tsql) { return ParseTransaction(tsql).has_value(); }

std::string TranslateForSqlite(std::string_view tsql);

// Whether two texts are equal but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
// The blank-separated words of a statement text.
std::vector<std::string> SqlWords(std::string_view s);

}  // namespace plom
