// Translation of the tool's SQL Server statement texts into SQLite SQL.
//
// The statements use a small part of T-SQL, and only that is translated:
//   @p1, @p2                         -> ?1, ?2
//   schema.Table                     -> "schema.Table"
//   CONVERT(char(8), x, 112)         -> x as yyyymmdd
//   CONVERT(datetime, t, 112)        -> the date t (yyyymmdd) at midnight
//   CURRENT_TIMESTAMP, CURRENT_TIMESTAMP-n -> local now, n days before
//   DATEPART(year, x)                -> the year of x as integer
//   BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION [name] -> SQLite transactions
// Everything else (string literals, comments, quoted names) passes as it is.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plom {

std::string TranslateForSqlite(std::string_view tsql);

// Whether two texts are equal but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
// The blank-separated words of a statement text.
std::vector<std::string> SqlWords(std::string_view s);

// SQLite has no SAVE TRANSACTION. The tool sets a savepoint only in front of
// a single statement (the line store's insert), and SQLite undoes a failed
// statement by itself, so "SAVE TRANSACTION x" and a rollback to such a
// savepoint x need no SQLite statement at all. Returns true when the text is
// one of these two (nothing is to be run); *open keeps the savepoint names
// of the transaction and is emptied by BEGIN, COMMIT and a full ROLLBACK.
bool SqliteSkipsSavepoint(std::string_view tsql, std::set<std::string>* open);

// Rewrites @p1, @p2 ... into ODBC parameter markers "?" (in order of
// appearance); *order receives the markers' parameter numbers, each
// followed by ",".
std::string ToOdbcMarkers(std::string_view tsql, std::string* order = nullptr);

}  // namespace plom
