// VQDNL60P: one 45-character record per badge that may record time or has
// access on the terminal: badge number, start of validity, the two
// permission flags, the first time balance of the previous day, and a group
// (reader number and access class) for each of the terminal's readers 1 to 3.
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"

namespace plom {
namespace {

constexpr size_t kWidth = 45;
constexpr int kHighestReader = 3;

// Positions, counted from 1.
constexpr size_t kColBadge = 1;
constexpr size_t kColValidFrom = 14;
constexpr size_t kColTimeFlag = 22;
constexpr size_t kColAccessFlag = 23;
constexpr size_t kColBalance = 24;
constexpr size_t kColReaders = 31;

// Balance text 1 of the previous day; blank when there is no row or the
// lookup failed.
void PutBalance(RunContext& ctx, BadgeRecord* r, std::string* line) {
  if (GetBalances(ctx.conn, r, ctx.kept) == kSqlOk) {
    PutText(line, kColBalance, r->balance[0], kDisplayRoom);
  } else {
    PutBlanks(line, kColBalance, kDisplayRoom);
  }
}

bool StoreBadge(RunContext& ctx, BadgeRecord* r, const std::string& path,
                const std::string& terminal) {
  r->PresetReaderSlots();
  std::string line(kWidth, ' ');
  bool resolved = ResolveAccessClass(ctx.conn, ctx.scope.schema, r, ctx.rights);
  if (!FitsFixedLayout(ctx, *r, false)) return false;

  PutText(&line, kColBadge, r->badge_number, kBadgeNumberRoom);
  PutDate(&line, kColValidFrom, r->valid_from);
  PutBalance(ctx, r, &line);

  bool access =
      resolved && HasAccessPermission(ctx.conn, ctx.admission, r, terminal, kHighestReader, true);
  // The class stands only in the reader entries, which exist only with access.
  if (access && !ClassFits(ctx, *r)) return false;
  PutFlag(&line, kColAccessFlag, access);
  if (access) PutReaderEntries(*r, kColReaders, kHighestReader, &line);
  bool time = HasTimePermission(ctx.conn, ctx.admission, *r, terminal);
  PutFlag(&line, kColTimeFlag, time);
  if (!access && !time) {
    ReportNotAdmitted(ctx, *r, terminal);
    return false;
  }
  return StoreRecord(ctx, *r, path, line);
}

}  // namespace

void GenerateVQDNL60P(RunContext& ctx) {
  const std::string& path = ctx.scope.path;
  const std::string& terminal = ctx.scope.terminal;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, r, path, terminal); });
}

}  // namespace plom
