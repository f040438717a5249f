// VQDNL18P: one 173-character record per badge that may record time on the
// terminal, for its balance display: the badge number and eight groups of a
// 13-character label and a 7-character value (today's date, the balance of
// the previous day and five vacation figures).
#include <array>
#include <ctime>

#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "generators/generators.h"
#include "generators/record_util.h"
#include "layouts/widths.h"

namespace plom {
namespace {

constexpr size_t kWidth = kWidthVQDNL18P;
constexpr size_t kLabelCount = 8;
constexpr size_t kLabelLen = 13;
constexpr size_t kGroupLen = 20;

// Positions, counted from 1.
constexpr size_t kColBadge = 1;
constexpr size_t kColLabels = 14;
constexpr size_t kColDate = 26;
constexpr size_t kDateLen = 8;
constexpr size_t kColBalance = 47;
constexpr size_t kColAfterBalance = 67;
// Where vacation texts 1 to 5 go: text 5 (previous year's rest) stands in
// group 4, texts 1 to 4 in groups 5 to 8.
constexpr size_t kColVacation[5] = {107, 127, 147, 167, 87};
// A terminal of this type shows only the first four groups.
constexpr char kFourGroupType[] = "7598-002";
constexpr size_t kColGroup5 = 94;

using Labels = LabelSlots;
static_assert(kLabelSlots == kLabelCount);

// What one pass reads once and keeps from badge to badge.
struct DisplayPass {
  std::string date;  // today as "%d.%m.%y"
  std::string terminal_type;
  Labels labels;
  std::string last_badge;  // badge number of the last record built
};

// The labels 301 to 308; a label that does not exist shows as blanks.
Status GetLabels(RunContext& ctx, Labels* labels) {
  if (ctx.shared) return ctx.shared->Labels(ctx.conn, labels);
  labels->fill(std::string(kLabelLen, ' '));
  return ReadLabels(ctx.conn, labels);
}

// What the pass reads once; false when the database failed.
bool PreparePass(RunContext& ctx, const std::string& terminal, DisplayPass* pass) {
  pass->date = TodayAsDisplayed();
  return ctx.Answered(GetTerminalType(ctx.conn, terminal, &pass->terminal_type)) &&
         ctx.Answered(GetLabels(ctx, &pass->labels));
}

void PutBalance(RunContext& ctx, const DisplayPass& pass, BadgeRecord* r, std::string* line) {
  Status s = LookupBalances(ctx, r);
  if (!ctx.Answered(s)) return;
  if (!s.ok()) {
    ctx.out.Printf("Ausweis:%s Person:%s Saldodaten nicht gefunden! %d\n", r->badge_number.c_str(),
                   r->personnel_number.c_str(), s.sqlcode());
    return;
  }
  PutText(line, kColDate, pass.date, kDateLen);
  PutText(line, kColBalance, r->balance[0], kDisplayRoom);
  PutBlanks(line, kColAfterBalance, kDisplayRoom);
}

// Missing vacation rows show as zero; the texts are written in every case.
void PutVacation(RunContext& ctx, BadgeRecord* r, std::string* line) {
  Status s = LookupVacation(ctx, r);
  if (!ctx.Answered(s)) return;
  if (!s.ok()) {
    ctx.out.Printf("Ausweis:%s Person:%s Urlaubsdaten nicht gefunden! %d\n",
                   r->badge_number.c_str(), r->personnel_number.c_str(), s.sqlcode());
  }
  for (size_t i = 0; i < r->vacation.size(); ++i) {
    PutText(line, kColVacation[i], r->vacation[i], kDisplayRoom);
  }
}

std::string BuildLine(RunContext& ctx, const DisplayPass& pass, BadgeRecord* r) {
  std::string line(kWidth, ' ');
  for (size_t n = 0; n < kLabelCount; ++n) {
    PutText(&line, kColLabels + kGroupLen * n, pass.labels[n], kLabelLen);
  }
  PutText(&line, kColBadge, r->badge_number, kBadgeNumberRoom);
  PutBalance(ctx, pass, r, &line);
  PutVacation(ctx, r, &line);
  if (pass.terminal_type == kFourGroupType) {
    PutBlanks(&line, kColGroup5, kWidth - kColGroup5 + 1);
  }
  return line;
}

bool StoreBadge(RunContext& ctx, DisplayPass& pass, BadgeRecord* r, const std::string& terminal) {
  bool permitted = false;
  if (!ctx.Answered(HasTimePermission(ctx.conn, ctx.admission, *r, terminal, &permitted))) {
    return false;
  }
  if (!permitted) {
    ctx.out.Printf("Ausweis %s auf Terminal %s nicht zulaessig!\n", r->badge_number.c_str(),
                   terminal.c_str());
  }
  // One record per badge: later rows of the same badge are passed over.
  if (!permitted || r->personnel_number.empty() || r->badge_number == pass.last_badge) {
    return false;
  }
  // Later rows of a badge that does not fit are passed over too: it is
  // reported once.
  pass.last_badge = r->badge_number;
  if (!FitsFixedLayout(ctx, *r, false)) return false;
  std::string line = BuildLine(ctx, pass, r);
  return !ctx.failed() && StoreRecord(ctx, *r, line);
}

}  // namespace

void GenerateVQDNL18P(RunContext& ctx) {
  const std::string& terminal = ctx.scope.terminal;
  DisplayPass pass;
  if (!PreparePass(ctx, terminal, &pass)) return;
  ForEachBadge(ctx, [&](BadgeRecord* r) { return StoreBadge(ctx, pass, r, terminal); });
}

}  // namespace plom
