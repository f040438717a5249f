// VQDNL60P: one 45-character record per badge that may record time or has
// access on the terminal: badge number, start of validity, the two
// permission flags, the first time balance of the previous day, and a group
// (reader number and access class) for each of the terminal's readers 1 to 3.
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"
#include "layouts/widths.h"

namespace plom {
namespace {

constexpr size_t kWidth = kWidthVQDNL60P;
constexpr int kHighestReader = 3;

// Balance text 1 of the previous day; blank when there is no row or the
// person's sum overflows.
void PutBalance(RunContext& ctx, BadgeRecord* r, std::string* line) {
  Status s = LookupBalances(ctx, r);
  if (!ctx.Answered(s)) return;
  if (s.ok()) {
    PutText(line, reader_record::kColBalance, r->balance[0], kDisplayRoom);
  } else {
    PutBlanks(line, reader_record::kColBalance, kDisplayRoom);
  }
}

bool StoreBadge(RunContext& ctx, BadgeRecord* r, const std::string& terminal) {
  std::string line(kWidth, ' ');
  return BuildReaderRecord(ctx, r, terminal, kHighestReader, PutBalance, &line) &&
         StoreRecord(ctx, *r, line);
}

}  // namespace

void GenerateVQDNL60P(RunContext& ctx) {
  const std::string& terminal = ctx.scope.terminal;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, r, terminal); });
}

}  // namespace plom
