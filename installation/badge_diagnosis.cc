// Every row of one badge number, with the conditions of the badge cursor.
#include "installation/badge_diagnosis.h"

#include "installation/badge_queries.h"

namespace plom {
namespace {

constexpr int kBadgeRowsNo = 48;

// The conditions are those of ASW_VQDNL_C, asked per row instead of filtered.
constexpr const char kOpenBadgeRows[] =
    "/* ASW_ROWS_C 48 nohold */ SELECT CONVERT(char(8),AswGvo,112), "
    "CONVERT(char(8),AswGbi,112), AswBkl, MNDSCH, MNDNUM, MndKon, CASE WHEN "
    "((CURRENT_TIMESTAMP >= AswGvo AND AswGbi IS null) OR (CURRENT_TIMESTAMP <= AswGbi AND "
    "AswGvo IS null) OR (CURRENT_TIMESTAMP >= AswGvo AND CURRENT_TIMESTAMP <= AswGbi)) THEN 1 "
    "ELSE 0 END, (SELECT COUNT(*) FROM ZrSystem.Zrt113Awv WHERE AWVNUM = ASWNUM) FROM "
    "ZrSystem.Zrt301Asw LEFT OUTER JOIN ZrSystem.Zrt112Mnd ON ASWLIZ = MNDLIZ AND ASWMND = "
    "MNDNUM WHERE AswNum = @p1 ORDER BY AswGvo, AswBkl ";

constexpr size_t kBadgeNumberWidth = 51;
constexpr size_t kDateWidth = 15;
constexpr size_t kClassWidth = 6;
constexpr size_t kSchemaWidth = 21;

}  // namespace

int ListBadgeRows(Connection& c, const std::string& badge, std::vector<BadgeRowFacts>* rows) {
  rows->clear();
  int rc = c.Open(kBadgeRowsNo, kOpenBadgeRows, {Param::Text(Cut(badge, kBadgeNumberWidth - 1))});
  Row row;
  while (rc == kSqlOk && (rc = c.Fetch(kBadgeRowsNo, &row)) == kSqlOk) {
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
  c.Close(kBadgeRowsNo);
  if (rc == kSqlNotFound) return rows->empty() ? kSqlNotFound : kSqlOk;
  return rc;
}

bool ListedFor(const BadgeRowFacts& row, const std::string& schema) {
  return row.client_found && row.schema == schema && row.current && row.locations > 0;
}

}  // namespace plom
