// VQDNL17P: one 85-character record per badge that may record time or has
// access on the terminal: badge number, start of validity, the two
// permission flags, the first time balance of the previous day, and an entry
// (reader number and access class) for each of the terminal's readers 1 to
// 11. Entry 7 carries the badge's location short text when it has one.
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"
#include "layouts/widths.h"

namespace plom {
namespace {

constexpr size_t kWidth = kWidthVQDNL17P;
constexpr int kHighestReader = 11;

using reader_record::kColBalance;
using reader_record::kColReaders;
constexpr int kLocationEntry = 7;
constexpr char kLocationEntryNumber[] = "07";

size_t EntryColumn(int n) { return ReaderEntryColumn(kColReaders, n); }

// Balance text 1 of the previous day; blank when there is no row or the
// person's sum overflows, so the terminal never shows figures that were
// not read.
void PutBalance(RunContext& ctx, BadgeRecord* r, std::string* line) {
  Status s = LookupBalances(ctx, r);
  if (!ctx.Answered(s)) return;
  if (s.ok()) {
    PutText(line, kColBalance, r->balance[0], kDisplayRoom);
    return;
  }
  ctx.out.Printf("Saldo Ermitteln. Saldo:%s, SQLCode:%ld\n", r->balance[0].c_str(),
                 static_cast<long>(s.sqlcode()));
  PutBlanks(line, kColBalance, kDisplayRoom);
}

// The location short text replaces whatever entry 7 holds.
void PutLocation(RunContext& ctx, BadgeRecord* r, std::string* line) {
  Status s = LookupLocation(ctx, r);
  if (!ctx.Answered(s)) return;
  if (s.ok()) {
    PutText(line, EntryColumn(kLocationEntry), kLocationEntryNumber, kReaderNumberLen);
    PutText(line, EntryColumn(kLocationEntry) + kReaderNumberLen, r->location_short, kClassRoom);
  } else if (!s.no_row()) {
    ctx.out.Printf("SQL Standortbez. Ermitteln. SQLCode:%ld\n", static_cast<long>(s.sqlcode()));
  }
}

bool StoreBadge(RunContext& ctx, BadgeRecord* r, const std::string& terminal) {
  std::string line(kWidth, ' ');
  if (!BuildReaderRecord(ctx, r, terminal, kHighestReader, PutBalance, &line)) return false;
  PutLocation(ctx, r, &line);
  return !ctx.failed() && StoreRecord(ctx, *r, line);
}

}  // namespace

void GenerateVQDNL17P(RunContext& ctx) {
  const std::string& terminal = ctx.scope.terminal;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, r, terminal); });
}

}  // namespace plom
