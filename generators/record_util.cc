// Helpers that the generators share.
#include "generators/record_util.h"

#include <algorithm>

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

void PutFlag(std::string* line, size_t column, bool on) {
  PutText(line, column, on ? "1" : "0", 1);
}

bool FitsFixedLayout(RunContext& ctx, const BadgeRecord& r, bool check_class) {
  if (r.badge_number.size() > kBadgeNumberRoom) {
    ctx.msg.Printf("Ausweis %s: Ausweisnummer laenger als %zu Zeichen, nicht in Datei gestellt\n",
                   r.badge_number.c_str(), kBadgeNumberRoom);
    return false;
  }
  return !check_class || ClassFits(ctx, r);
}

bool ClassFits(RunContext& ctx, const BadgeRecord& r) {
  if (r.access_class.size() <= kClassRoom) return true;
  ctx.msg.Printf(
      "Ausweis %s: Berechtigungsklasse %s laenger als %zu Zeichen, nicht in Datei gestellt\n",
      r.badge_number.c_str(), r.access_class.c_str(), kClassRoom);
  return false;
}

namespace {

void SayRefused(Messages& msg, int sqlcode, const std::string& path, const std::string& line) {
  msg.Printf("Insert-Error Zrt999Tmp! ErrNr: %d", sqlcode);
  msg.Printf("User: %s  String: %s", path.c_str(), line.c_str());
}

void ReportRefused(RunContext& ctx, int sqlcode, const std::string& path, const std::string& line) {
  SayRefused(ctx.msg, sqlcode, path, line);
  ++ctx.lines_lost;
}

// Puts a refusal of a held line where the plain sequence would have said
// it: right after the messages that came before the line was stored.
void SayAtLine(RunContext& ctx, const LineStore::Refusal& r) {
  std::string said;
  Messages text(&said);
  SayRefused(text, r.sqlcode, r.path, r.line);
  ctx.msg.AddKinds(text);
  auto& held = ctx.held_lines;
  auto at = held.begin();
  while (at != held.end() && at->seq < r.seq) ++at;
  if (!ctx.msg.holding() || at == held.end() || at->seq != r.seq) {
    ctx.msg.Printf("%s", said.c_str());
    return;
  }
  ctx.msg.Insert(at->mark, said);
  for (++at; at != held.end(); ++at) at->mark += said.size();
}

}  // namespace

void ReportRefusedLines(RunContext& ctx) {
  for (const LineStore::Refusal& r : ctx.lines.TakeRefused()) {
    SayAtLine(ctx, r);
    ++ctx.lines_lost;
    ++ctx.refused_later;
  }
  auto& held = ctx.held_lines;
  while (!held.empty() && held.front().seq < ctx.lines.oldest_pending()) held.pop_front();
  if (ctx.lines.pending() == 0 && ctx.msg.holding()) {
    held.clear();
    ctx.msg.Release();
  }
  if (ctx.lines.broken()) {
    ctx.Fail(ctx.lines.broken_sqlcode(), "Zrt999Tmp", ctx.lines.broken_reason());
  }
}

bool StoreLine(RunContext& ctx, const std::string& path, const std::string& line) {
  if (ctx.sink == &ctx.lines) {
    // Until the line store has stored or refused it, what follows is held.
    ctx.msg.Hold();
    ctx.held_lines.push_back(RunContext::HeldLine{ctx.lines.taken(), ctx.msg.Mark()});
  }
  int rc = ctx.sink->Insert(path, line);
  bool broken = ctx.lines.broken();
  ReportRefusedLines(ctx);
  if (rc == 0) return true;
  if (!broken) ReportRefused(ctx, rc, path, line);
  return false;
}

bool HasControlCharacter(std::string_view s) {
  for (unsigned char ch : s) {
    if (ch < 0x20 || ch == 0x7F) return true;
  }
  return false;
}

bool StoreRecord(RunContext& ctx, const BadgeRecord& r, const std::string& path,
                 const std::string& line) {
  if (HasControlCharacter(line)) {
    ctx.msg.Printf("Ausweis %s: Steuerzeichen in den Daten, nicht in Datei gestellt\n",
                   r.badge_number.c_str());
    return false;
  }
  return StoreLine(ctx, path, line);
}

void ReportNotAdmitted(RunContext& ctx, const BadgeRecord& r, const std::string& terminal) {
  ctx.msg.Printf("Ausweis %s ohne Zeit-/Zutrittsberechtigung auf Terminal %s\n",
                 r.badge_number.c_str(), terminal.c_str());
}

void ReportCounts(RunContext& ctx, int badges, int stored) {
  ctx.msg.Printf("Ausweise gesamt: %d davon in Datei gestellt: %d\n", badges, stored);
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
  int stored = 0;
  const int refused_before = ctx.refused_later;
  int rc = kSqlOk;
  if (ctx.shared) {
    // The rows as the cursor delivers them, read once for the whole batch.
    std::shared_ptr<const SchemaBadges> rows;
    rc = ctx.shared->GetBadgeRows(ctx.conn, ctx.scope.schema, &rows);
    for (size_t i = 0; rc >= 0 && i < rows->size() && !ctx.failed(); ++i) {
      ++badges;
      rows->Get(i, &r);
      ctx.kept = &rows->answers(i);
      if (store_badge(&r)) ++stored;
    }
    ctx.kept = nullptr;
  } else {
    rc = OpenBadgeCursor(ctx.conn, ctx.scope.schema);
    while (rc == kSqlOk && (rc = FetchBadge(ctx.conn, &r)) == kSqlOk) {
      ++badges;
      if (store_badge(&r)) ++stored;
      r.Clear();
      if (ctx.failed()) break;
    }
    CloseBadgeCursor(ctx.conn);
  }
  ctx.badges_read += badges;
  // An error is never the end of the badges: the file would lack them.
  if (rc < 0) ctx.Fail(rc, "ASW_VQDNL_C", ctx.conn.last_error());
  if (ctx.failed()) return;
  // The lines the line store still holds go now, so that the count says
  // what it stored.
  if (ctx.sink == &ctx.lines) {
    ctx.lines.Flush();
    ReportRefusedLines(ctx);
    if (ctx.failed()) return;
  }
  ReportCounts(ctx, badges, stored - (ctx.refused_later - refused_before));
}

bool BuildReaderRecord(
    RunContext& ctx, BadgeRecord* r, const std::string& terminal, int highest_reader,
    const std::function<void(RunContext&, BadgeRecord*, std::string*)>& put_balance,
    std::string* line) {
  using namespace reader_record;
  r->PresetReaderSlots();
  bool resolved = ResolveAccessClass(ctx.conn, ctx.scope.schema, r, ctx.rights);
  if (!FitsFixedLayout(ctx, *r, false)) return false;

  PutText(line, kColBadge, r->badge_number, kBadgeNumberRoom);
  PutDate(line, kColValidFrom, r->valid_from);
  put_balance(ctx, r, line);

  bool access =
      resolved && HasAccessPermission(ctx.conn, ctx.admission, r, terminal, highest_reader, true);
  // The class stands only in the reader entries, which exist only with access.
  if (access && !ClassFits(ctx, *r)) return false;
  PutFlag(line, kColAccessFlag, access);
  if (access) PutReaderEntries(*r, kColReaders, highest_reader, line);
  bool time = HasTimePermission(ctx.conn, ctx.admission, *r, terminal);
  PutFlag(line, kColTimeFlag, time);
  if (!access && !time) {
    ReportNotAdmitted(ctx, *r, terminal);
    return false;
  }
  return true;
}

}  // namespace plom
