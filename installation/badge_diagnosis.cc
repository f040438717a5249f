// Every row of one badge number, with the conditions of the badge cursor.
#include "installation/badge_diagnosis.h"

#include "installation/badge_queries.h"
#include "installation/statements.h"

namespace plom {
namespace {

constexpr size_t kBadgeNumberWidth = 51;
constexpr size_t kDateWidth = 15;
constexpr size_t kClassWidth = 6;
constexpr size_t kSchemaWidth = 21;

}  // namespace

int ListBadgeRows(Connection& c, const std::string& badge, std::vector<BadgeRowFacts>* rows) {
  rows->clear();
  int rc = c.Open(stmt::kBadgeRows.no, stmt::kBadgeRows.text,
                  {Param::Text(Cut(badge, kBadgeNumberWidth - 1))});
  Row row;
  while (rc == kSqlOk && (rc = c.Fetch(stmt::kBadgeRows.no, &row)) == kSqlOk) {
    BadgeRowFacts f;
    f.valid_from = ColumnText(row, 0, kDateWidth);
    f.valid_to = ColumnText(row, 1, kDateWidth);
    f.access_class = ColumnText(row, 2, kClassWidth);
    f.schema = ColumnText(row, 3, kSchemaWidth);
    f.client_found = !Column(row, 4).IsNull();
    f.client_excluded = ColumnInt(row, 5) == 1;
    f.current = ColumnInt(row, 6) == 1;
    f.locations = ColumnInt(row, 7);
    rows->push_back(f);
  }
  c.Close(stmt::kBadgeRows.no);
  if (rc == kSqlNotFound) return rows->empty() ? kSqlNotFound : kSqlOk;
  return rc;
}

bool ListedFor(const BadgeRowFacts& row, const std::string& schema) {
  return row.client_found && row.schema == schema && row.current && row.locations > 0;
}

}  // namespace plom
