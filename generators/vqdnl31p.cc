// VQDNL31P: one 48-character record per badge whose access class is resolved
// and permitted on at least one reader (1 to 32) of the terminal: badge
// number, validity window, the two permission flags, fixed texts, the access
// class and the location short text.
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"
#include "layouts/widths.h"

namespace plom {
namespace {

constexpr size_t kWidth = kWidthVQDNL31P;
constexpr int kHighestReader = 32;

// Columns, counted from 1.
constexpr size_t kColBadge = 1;
constexpr size_t kColValidFrom = 14;
constexpr size_t kColValidTo = 22;
constexpr size_t kColTimeFlag = 30;
constexpr size_t kColAccessFlag = 31;
constexpr size_t kColBalance = 32;
constexpr size_t kColVariant = 40;
constexpr size_t kColClass = 43;
constexpr size_t kColLocation = 46;
constexpr size_t kLocationRoom = 3;

// This layout carries no balance: the terminal expects these texts there.
constexpr char kNoBalance[] = "XXXX,XX-";
constexpr char kVariant[] = "001";

void PutRecordFields(const BadgeRecord& r, std::string* line) {
  PutText(line, kColBadge, r.badge_number, kBadgeNumberRoom);
  PutDate(line, kColValidFrom, r.valid_from);
  PutDate(line, kColValidTo, r.valid_to);
  PutText(line, kColBalance, kNoBalance, sizeof kNoBalance - 1);
  PutText(line, kColVariant, kVariant, sizeof kVariant - 1);
  PutText(line, kColClass, r.access_class, kClassRoom);
  PutText(line, kColLocation, r.location_short, kLocationRoom);
}

bool StoreBadge(RunContext& ctx, BadgeRecord* r, const std::string& terminal) {
  std::string line(kWidth, ' ');
  bool resolved = false;
  if (!ctx.Answered(ResolveAccessClass(ctx.conn, ctx.scope.schema, r, &resolved, ctx.rights))) {
    return false;
  }
  if (!FitsFixedLayout(ctx, *r, true)) return false;

  PutFlag(&line, kColAccessFlag, false);
  bool time = false;
  if (!ctx.Answered(HasTimePermission(ctx.conn, ctx.admission, *r, terminal, &time))) return false;
  PutFlag(&line, kColTimeFlag, time);
  if (!resolved) {
    ctx.out.Printf("Ausweis %s ohne g\xFCltige Berechtigungsklasse\n", r->badge_number.c_str());
    return false;
  }
  bool access = false;
  if (!ctx.Answered(HasAccessPermission(ctx.conn, ctx.admission, r, terminal, kHighestReader,
                                        false, &access))) {
    return false;
  }
  if (!access) {
    ctx.out.Printf("Ausweis %s ohne Zutrittsberechtigung auf Terminal %s\n",
                   r->badge_number.c_str(), terminal.c_str());
    return false;
  }
  PutFlag(&line, kColAccessFlag, true);

  // Without a location the short text stays empty and its columns blank.
  if (!ctx.Answered(LookupLocation(ctx, r))) return false;
  PutRecordFields(*r, &line);
  return StoreRecord(ctx, *r, line);
}

}  // namespace

void GenerateVQDNL31P(RunContext& ctx) {
  const std::string& terminal = ctx.scope.terminal;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, r, terminal); });
}

}  // namespace plom
