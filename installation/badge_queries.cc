// Badge and terminal queries: fixed statements on the central schema.
#include "installation/badge_queries.h"

#include "installation/statements.h"

#include <cstdio>

namespace plom {

namespace {

// Statements of this module.
constexpr int kBadgeCursorNo = stmt::kBadgeCursor.no;
constexpr int kReaderCursorNo = stmt::kReaderCursor.no;
constexpr int kCountPermissionsNo = stmt::kCountPermissions.no;
constexpr int kCountTimeBlocksNo = stmt::kCountTimeBlocks.no;
constexpr int kTerminalTypeNo = stmt::kTerminalType.no;
constexpr int kLocationTextNo = stmt::kLocationText.no;
constexpr const char* kOpenBadgeCursor = stmt::kBadgeCursor.text;
constexpr const char* kOpenReaderCursor = stmt::kReaderCursor.text;
constexpr const char* kCountPermissions = stmt::kCountPermissions.text;
constexpr const char* kCountTimeBlocks = stmt::kCountTimeBlocks.text;
constexpr const char* kTerminalType = stmt::kTerminalType.text;
constexpr const char* kLocationText = stmt::kLocationText.text;

// Bound widths (including the terminator) of the host variables.
constexpr size_t kSchemaWidth = 21;
constexpr size_t kTerminalWidth = 11;
constexpr size_t kBadgeNumberWidth = 51;
constexpr size_t kDateWidth = 15;
constexpr size_t kPnrWidth = 9;
constexpr size_t kClassWidth = 6;
constexpr size_t kGroupWidth = 6;
constexpr size_t kLocationWidth = 9;
constexpr size_t kReaderCodeWidth = 6;
constexpr size_t kTypeWidth = 11;
constexpr size_t kShortTextWidth = 11;
constexpr size_t kLocationShortLen = 3;

Status CountRows(Connection& c, int no, const char* text, const std::string& code,
                 const std::string& access_class, int* count) {
  Row row;
  int rc = c.Execute(no, text,
                     {Param::Text(Cut(access_class, kClassWidth - 1), kClassWidth - 1),
                      Param::Text(Cut(code, kReaderCodeWidth - 1), kReaderCodeWidth - 1)},
                     &row);
  if (rc == kSqlOk) *count = ColumnInt(row, 0);
  return c.status().At("Zrt404Zbr");
}

}  // namespace

const Value& Column(const Row& row, size_t index) {
  static const Value kNull;
  return index < row.size() ? row[index] : kNull;
}

std::string ColumnText(const Row& row, size_t index, size_t width) {
  return TrimmedRight(Cut(Column(row, index).Text(), width - 1));
}

int32_t ColumnInt(const Row& row, size_t index) { return Column(row, index).Int(); }

std::string PadClass(const std::string& cls) {
  // "%-3s" of the class as bound (up to 5 characters).
  std::string padded = Cut(cls, kClassWidth - 1);
  if (padded.size() < 3) padded.append(3 - padded.size(), ' ');
  return padded;
}

std::string ZeroFill8(const std::string& s) {
  if (s.size() >= 8) return Cut(s, 8);
  return std::string(8 - s.size(), '0') + s;
}

Status OpenBadgeCursor(Connection& c, const std::string& schema) {
  c.Open(kBadgeCursorNo, kOpenBadgeCursor,
         {Param::Text(Cut(schema, kSchemaWidth - 1), kSchemaWidth - 1)});
  return c.status().At("ASW_VQDNL_C");
}

namespace {

void ReadBadge(const Row& row, BadgeRecord* r) {
  // Columns: AswNum, AswGvo, AswGbi, AswPnr, AswBkl, AswGrp, AswAan, AswAtp, AwvSto.
  r->badge_number = ColumnText(row, 0, kBadgeNumberWidth);
  r->valid_from = ColumnText(row, 1, kDateWidth);
  r->valid_to = ColumnText(row, 2, kDateWidth);
  r->personnel_number = ColumnText(row, 3, kPnrWidth);
  r->access_class = PadClass(ColumnText(row, 4, kClassWidth));
  r->badge_group = ColumnText(row, 5, kGroupWidth);
  // The whole number ("%d"): cut to two characters, 100 would read as 10.
  r->asw_atp = std::to_string(ColumnInt(row, 7));
  r->location_number = ZeroFill8(ColumnText(row, 8, kLocationWidth));
}

}  // namespace

Status FetchBadge(Connection& c, BadgeRecord* r) {
  Row row;
  if (c.Fetch(kBadgeCursorNo, &row) != kSqlOk) return c.status().At("ASW_VQDNL_C");
  ReadBadge(row, r);
  return Status::Ok();
}

Status ForEachBadgeRow(Connection& c, const std::string& schema,
                       const std::function<bool(BadgeRecord*)>& take) {
  BadgeRecord r;
  c.ForEachRow(kBadgeCursorNo, kOpenBadgeCursor,
               {Param::Text(Cut(schema, kSchemaWidth - 1), kSchemaWidth - 1)},
               [&](const Row& row) {
                 r.Clear();
                 ReadBadge(row, &r);
                 return take(&r);
               });
  return c.status().At("ASW_VQDNL_C");
}

void CloseBadgeCursor(Connection& c) { c.Close(kBadgeCursorNo); }

Status OpenReaderCursor(Connection& c, const std::string& terminal, int highest) {
  c.Open(kReaderCursorNo, kOpenReaderCursor,
         {Param::Text(Cut(terminal, kTerminalWidth - 1), kTerminalWidth - 1), Param::Int(highest)});
  return c.status().At("ZLS_ZLES_C");
}

Status FetchReader(Connection& c, int* number, std::string* code) {
  Row row;
  if (c.Fetch(kReaderCursorNo, &row) != kSqlOk) return c.status().At("ZLS_ZLES_C");
  *number = ColumnInt(row, 0);
  *code = ColumnText(row, 1, kReaderCodeWidth);
  return Status::Ok();
}

void CloseReaderCursor(Connection& c) { c.Close(kReaderCursorNo); }

Status CountReaderPermissions(Connection& c, const std::string& code,
                              const std::string& access_class, int* count) {
  return CountRows(c, kCountPermissionsNo, kCountPermissions, code, access_class, count);
}

Status CountReaderTimeBlocks(Connection& c, const std::string& code,
                             const std::string& access_class, int* count) {
  return CountRows(c, kCountTimeBlocksNo, kCountTimeBlocks, code, access_class, count);
}

Status GetTerminalType(Connection& c, const std::string& terminal, std::string* type) {
  Row row;
  int rc = c.Execute(kTerminalTypeNo, kTerminalType,
                     {Param::Text(Cut(terminal, kTerminalWidth - 1), kTerminalWidth - 1)}, &row);
  if (rc == kSqlOk) *type = ColumnText(row, 0, kTypeWidth);
  return c.status().At("Zrt114Tsm");
}

Status GetLocationShortText(Connection& c, BadgeRecord* r) {
  Row row;
  int rc = c.Execute(
      kLocationTextNo, kLocationText,
      {Param::Text(Cut(r->badge_number, kBadgeNumberWidth - 1), kBadgeNumberWidth - 1)}, &row);
  if (rc == kSqlOk) r->location_short = Cut(ColumnText(row, 0, kShortTextWidth), kLocationShortLen);
  return c.status().At("Zrt113Sto");
}

}  // namespace plom
