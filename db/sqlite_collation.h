// The sort order of the line store's text on SQLite: the order of the
// Windows-1252 bytes, as SQL Server's binary collation sorts the line
// store. (SQLite's own orders compare UTF-8, which puts characters of
// 0x80-0x9F, the euro sign among them, after those of 0xA0-0xFF.)
//
// The embedded backend registers it on its connection; the SQLite ODBC
// driver loads it as an extension module (programs/collation_module.cc,
// the data source's LoadExt setting). A connection without it can read and
// write the line store but not sort or compare its lines.
#pragma once

#include <cstddef>

struct sqlite3;

namespace plom {

// The collation's name as the DDL gives it.
constexpr char kCp1252Collation[] = "WIN1252";

// Compares two UTF-8 texts by their Windows-1252 bytes; trailing blanks do
// not count (as in SQLite's RTRIM and SQL Server's comparisons).
int CompareCp1252(int n1, const void* a, int n2, const void* b);

// Registers the collation and the 32-bit sum (below) on a connection;
// returns SQLite's result code. (Defined with the embedded backend: this
// file needs no SQLite library.)
int RegisterCp1252Collation(sqlite3* db);

// SQL Server adds int columns left to right in 32-bit integers: a partial
// sum beyond the range fails the statement (arithmetic overflow, 8115),
// whatever the terms after it. The embedded translation writes a sum of
// COALESCE(...) terms as a call of kInt32Sum, which adds as SQL Server does.
constexpr char kInt32Sum[] = "plom_add32";
// The message of its overflow; the backends report it as SQL Server's
// overflow of one row's value.
constexpr char kInt32Overflow[] = "arithmetic overflow converting expression to data type int";
// Adds the terms left to right; false when a partial sum leaves the 32-bit
// range.
bool AddInt32(const long long* terms, int n, long long* sum);

}  // namespace plom
