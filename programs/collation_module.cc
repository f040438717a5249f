// SQLite extension module with the line store's collation (WIN1252), for
// SQLite connections the tool does not open itself: the SQLite ODBC driver
// (LoadExt=/path/libplomvarde-collation.so in the data source) and the
// sqlite3 shell (.load /path/libplomvarde-collation).
#include <sqlite3ext.h>

#include "db/sqlite_collation.h"

SQLITE_EXTENSION_INIT1

namespace {

int Compare(void*, int n1, const void* a, int n2, const void* b) {
  return plom::CompareCp1252(n1, a, n2, b);
}

}  // namespace

extern "C" int sqlite3_extension_init(sqlite3* db, char**, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  return sqlite3_create_collation(db, plom::kCp1252Collation, SQLITE_UTF8, nullptr, Compare);
}
