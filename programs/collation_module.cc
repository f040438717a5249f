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

void Int32Sum(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  long long terms[16];
  if (argc > 16) argc = 16;  // the statements add at most four terms
  for (int i = 0; i < argc; ++i) terms[i] = sqlite3_value_int64(argv[i]);
  long long sum = 0;
  if (plom::AddInt32(terms, argc, &sum)) {
    sqlite3_result_int64(ctx, sum);
  } else {
    sqlite3_result_error(ctx, plom::kInt32Overflow, -1);
  }
}

}  // namespace

extern "C" int sqlite3_extension_init(sqlite3* db, char**, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  int rc = sqlite3_create_collation(db, plom::kCp1252Collation, SQLITE_UTF8, nullptr, Compare);
  if (rc != SQLITE_OK) return rc;
  return sqlite3_create_function(db, plom::kInt32Sum, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 nullptr, Int32Sum, nullptr, nullptr);
}
