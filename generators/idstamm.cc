// IDSTAMM: badge master data, one line per badge that may record time or has
// access on the terminal: 13 values, each in double quotes, separated by
// commas, ending in a line feed.
#include <string>
#include <vector>

#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"

namespace plom {
namespace {

constexpr int kHighestReader = 32;
constexpr size_t kLocationLen = 5;
constexpr char kNoLocation[] = "00000";
constexpr char kVariant[] = "001";
constexpr char kNoClass[] = "0";

// The last five digits of the location number; empty when they are zeros.
std::string LocationField(const BadgeRecord& r) {
  const std::string& n = r.location_number;
  std::string last = n.size() > kLocationLen ? n.substr(n.size() - kLocationLen) : n;
  return last == kNoLocation ? std::string() : last;
}

std::vector<std::string> MasterDataFields(const BadgeRecord& r) {
  return {r.badge_number, r.valid_from,       r.valid_to, LocationField(r), r.time_flag,
          r.access_flag,  r.pnr_spr,          r.pnr_sal,  kVariant,         r.access_class,
          r.unfilled,     r.personnel_number, r.asw_atp};
}

// Values are written unescaped, so a quote or a comma would break the
// line's fields.
bool FieldsAreQuotable(const std::vector<std::string>& fields) {
  for (const std::string& f : fields) {
    if (f.find_first_of("\",") != std::string::npos || HasControlCharacter(f)) return false;
  }
  return true;
}

std::string JoinQuoted(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += '"' + fields[i] + '"';
  }
  return line + '\n';
}

bool StoreBadge(RunContext& ctx, BadgeRecord* r, const std::string& terminal) {
  bool resolved = false;
  if (!ctx.Answered(ResolveAccessClass(ctx.conn, ctx.scope.schema, r, &resolved, ctx.rights))) {
    return false;
  }
  if (!resolved) r->access_class = kNoClass;
  bool access = false, time = false;
  if (!ctx.Answered(HasAccessPermission(ctx.conn, ctx.admission, r, terminal, kHighestReader,
                                        false, &access)) ||
      !ctx.Answered(HasTimePermission(ctx.conn, ctx.admission, *r, terminal, &time))) {
    return false;
  }
  r->access_flag = access ? "1" : "0";
  r->time_flag = time ? "1" : "0";
  if (r->access_flag != "1" && r->time_flag != "1") {
    ReportNotAdmitted(ctx, *r, terminal);
    return false;
  }

  // A person without a row leaves PnrSpr and PnrSal empty.
  if (!ctx.Answered(LookupPerson(ctx, r))) return false;
  std::vector<std::string> fields = MasterDataFields(*r);
  if (!FieldsAreQuotable(fields)) {
    ctx.out.Printf(
        "Ausweis %s: Stammdaten mit Anfuehrungszeichen, Komma oder Steuerzeichen, nicht in "
        "Datei gestellt\n",
        r->badge_number.c_str());
    return false;
  }
  return StoreLine(ctx, JoinQuoted(fields));
}

}  // namespace

void GenerateIDSTAMM(RunContext& ctx) {
  const std::string& terminal = ctx.scope.terminal;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, r, terminal); });
}

}  // namespace plom
