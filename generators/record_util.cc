// Helpers that the generators share.
#include "generators/record_util.h"

#include <algorithm>
#include <ctime>

#include "generators/admission.h"
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/line_store.h"

namespace plom {

void PutText(std::string* line, size_t column, const std::string& text, size_t max_len) {
  if (column < 1 || column > line->size()) return;
  size_t at = column - 1;
  size_t n = std::min({text.size(), max_len, line->size() - at});
  line->replace(at, n, text, 0, n);
}

void PutBlanks(std::string* line, size_t column, size_t len) {
  PutText(line, column, std::string(len, ' '), len);
}

bool IsBlank(const std::string& line, size_t column, size_t len) {
  if (column < 1 || column > line.size()) return true;
  size_t at = column - 1;
  size_t n = std::min(len, line.size() - at);
  return line.find_first_not_of(' ', at) >= at + n;
}

void PutDate(std::string* line, size_t column, const std::string& date) {
  PutText(line, column, date, kDateRoom);
  if (IsBlank(*line, column, kDateRoom)) PutText(line, column, kNoDate, kDateRoom);
}

std::string TodayAsDisplayed() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char buf[16];
  strftime(buf, sizeof buf, "%d.%m.%y", &tm);
  return buf;
}

void PutFlag(std::string* line, size_t column, bool on) {
  PutText(line, column, on ? "1" : "0", 1);
}

bool FitsFixedLayout(RunContext& ctx, const BadgeRecord& r, bool check_class) {
  if (r.badge_number.size() > kBadgeNumberRoom) {
    ctx.out.Printf("Ausweis %s: Ausweisnummer laenger als %zu Zeichen, nicht in Datei gestellt\n",
                   r.badge_number.c_str(), kBadgeNumberRoom);
    return false;
  }
  return !check_class || ClassFits(ctx, r);
}

bool ClassFits(RunContext& ctx, const BadgeRecord& r) {
  if (r.access_class.size() <= kClassRoom) return true;
  ctx.out.Printf(
      "Ausweis %s: Berechtigungsklasse %s laenger als %zu Zeichen, nicht in Datei gestellt\n",
      r.badge_number.c_str(), r.access_class.c_str(), kClassRoom);
  return false;
}

bool StoreLine(RunContext& ctx, const std::string& line) {
  ctx.out.AddLine(line);
  return true;
}

bool HasControlCharacter(std::string_view s) {
  for (unsigned char ch : s) {
    if (ch < 0x20 || ch == 0x7F) return true;
  }
  return false;
}

bool StoreRecord(RunContext& ctx, const BadgeRecord& r, const std::string& line) {
  if (HasControlCharacter(line)) {
    ctx.out.Printf("Ausweis %s: Steuerzeichen in den Daten, nicht in Datei gestellt\n",
                   r.badge_number.c_str());
    return false;
  }
  return StoreLine(ctx, line);
}

void ReportNotAdmitted(RunContext& ctx, const BadgeRecord& r, const std::string& terminal) {
  ctx.out.Printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n",
                 r.badge_number.c_str(), terminal.c_str());
}

size_t ReaderEntryColumn(size_t first_column, int n) {
  return first_column + kReaderEntryLen * static_cast<size_t>(n - 1);
}

void PutReaderEntries(const BadgeRecord& r, size_t first_column, int highest_reader,
                      std::string* line) {
  for (int n = 1; n <= highest_reader; ++n) {
    const std::string& slot = r.reader_slot[n - 1];
    if (slot == "  ") continue;
    size_t column = ReaderEntryColumn(first_column, n);
    PutText(line, column, slot, kReaderNumberLen);
    PutText(line, column + kReaderNumberLen, r.access_class, kClassRoom);
  }
}

void ForEachBadge(RunContext& ctx, const std::function<bool(BadgeRecord*)>& store_badge) {
  BadgeRecord r;
  int badges = 0;
  const int64_t first_line = ctx.out.line_count();
  Status s;
  if (ctx.shared) {
    // The rows as the cursor delivers them, read once for the whole batch.
    std::shared_ptr<const SchemaBadges> rows;
    s = ctx.shared->GetBadgeRows(ctx.conn, ctx.scope.schema, &rows);
    for (size_t i = 0; s.ok() && i < rows->size() && !ctx.failed(); ++i) {
      ++badges;
      rows->Get(i, &r);
      ctx.kept = &rows->answers(i);
      store_badge(&r);
    }
    ctx.kept = nullptr;
  } else {
    // The cursor stays open while the badges' lookups run: its rows are
    // not held.
    s = ForEachBadgeRow(ctx.conn, ctx.scope.schema, [&](BadgeRecord* row) {
      ++badges;
      store_badge(row);
      return !ctx.failed();
    });
  }
  ctx.badges_read += badges;
  // An error is never the end of the badges: the file would lack them.
  if (!s.answered()) ctx.Fail(s.sqlcode(), s.what(), s.reason());
  if (ctx.failed()) return;
  ctx.out.AddCount(badges, first_line);
}

Status LookupBalances(RunContext& ctx, BadgeRecord* r) {
  if (ctx.bulk) return ctx.bulk->Balances(ctx.conn, ctx.scope.schema, r);
  return GetBalances(ctx.conn, r, ctx.kept);
}

Status LookupVacation(RunContext& ctx, BadgeRecord* r) {
  if (ctx.bulk) return ctx.bulk->Vacation(ctx.conn, ctx.scope.schema, r);
  return GetVacation(ctx.conn, ctx.scope.schema, r, ctx.kept);
}

Status LookupPerson(RunContext& ctx, BadgeRecord* r) {
  if (ctx.bulk) return ctx.bulk->Person(ctx.conn, ctx.scope.schema, r);
  return GetPersonSprSal(ctx.conn, ctx.scope.schema, r, ctx.kept);
}

Status LookupLocation(RunContext& ctx, BadgeRecord* r) {
  if (ctx.bulk) return ctx.bulk->LocationShortText(ctx.conn, ctx.scope.schema, r);
  return GetLocationShortText(ctx.conn, r, ctx.kept);
}

bool BuildReaderRecord(
    RunContext& ctx, BadgeRecord* r, const std::string& terminal, int highest_reader,
    const std::function<void(RunContext&, BadgeRecord*, std::string*)>& put_balance,
    std::string* line) {
  using namespace reader_record;
  r->PresetReaderSlots();
  bool resolved = false;
  if (!ctx.Answered(ResolveAccessClass(ctx.conn, ctx.scope.schema, r, &resolved, ctx.rights))) {
    return false;
  }
  if (!FitsFixedLayout(ctx, *r, false)) return false;

  PutText(line, kColBadge, r->badge_number, kBadgeNumberRoom);
  PutDate(line, kColValidFrom, r->valid_from);
  put_balance(ctx, r, line);
  if (ctx.failed()) return false;

  bool access = false;
  if (resolved && !ctx.Answered(HasAccessPermission(ctx.conn, ctx.admission, r, terminal,
                                                    highest_reader, true, &access))) {
    return false;
  }
  // The class stands only in the reader entries, which exist only with access.
  if (access && !ClassFits(ctx, *r)) return false;
  PutFlag(line, kColAccessFlag, access);
  if (access) PutReaderEntries(*r, kColReaders, highest_reader, line);
  bool time = false;
  if (!ctx.Answered(HasTimePermission(ctx.conn, ctx.admission, *r, terminal, &time))) {
    return false;
  }
  PutFlag(line, kColTimeFlag, time);
  if (!access && !time) {
    ReportNotAdmitted(ctx, *r, terminal);
    return false;
  }
  return true;
}

}  // namespace plom
