// Balance, label, vacation and person queries.
#include "installation/balance_queries.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/statements.h"

namespace plom {

namespace {

constexpr int kPersonNo = stmt::kPerson.no;
constexpr int kBalanceNo = stmt::kBalances.no;
constexpr int kLabelCursorNo = stmt::kLabelCursor.no;
constexpr int kDayRecordNo = stmt::kDayRecord.no;
constexpr int kYearAccountNo = stmt::kYearAccount.no;

// Format texts: the %s takes the qualified table name, @p1 the personnel number.
constexpr const char* kPerson = stmt::kPerson.text;
constexpr const char* kDayRecord = stmt::kDayRecord.text;
constexpr const char* kYearAccount = stmt::kYearAccount.text;
constexpr const char* kBalances = stmt::kBalances.text;
constexpr const char* kOpenLabelCursor = stmt::kLabelCursor.text;

constexpr const char kPnrTable[] = ".Zrt300Pnr ";
constexpr const char kUtgTable[] = ".Zrt332Utg ";
constexpr const char kUrvTable[] = ".Zrt332Urv ";

constexpr size_t kPnrWidth = 9;
constexpr size_t kPnrSalWidth = 11;
constexpr size_t kPnrSprWidth = 15;
constexpr size_t kLabelTextWidth = 41;
constexpr size_t kLabelLen = 13;
constexpr size_t kDisplayLen = 7;

std::string PersonnelKey(const BadgeRecord& r) { return Cut(r.personnel_number, kPnrWidth - 1); }

}  // namespace

std::string BalanceText(int32_t minutes) {
  int64_t v = minutes;
  int64_t mag = v < 0 ? -v : v;
  const char* sign = v < 0 ? "-" : " ";
  const char* prefix = (v >= 6000 || v <= -6000) ? "" : (v >= 600 || v <= -600) ? " " : "  ";
  // "%s%d,%02d%s", without the cost of parsing a format for every figure.
  int64_t minutes_part = mag % 60;
  std::string text = prefix;
  text += std::to_string(mag / 60);
  text += ',';
  text += static_cast<char>('0' + minutes_part / 10);
  text += static_cast<char>('0' + minutes_part % 10);
  text += sign;
  return Cut(text, kDisplayLen);
}

namespace {

// "%.2f" of a finite, non-negative value. The product with 100 is exact in
// long double (53 + 7 bits fit its 64-bit mantissa), and rounding it to the
// nearest integer, ties to even, is what printf does with the exact value.
// Other values (huge, NaN, negative zero) go through snprintf.
std::string TwoDecimals(double mag) {
  if constexpr (std::numeric_limits<long double>::digits >= 60) {
    if (std::isfinite(mag) && !std::signbit(mag) && mag < 1e15) {
      long double hundredths = static_cast<long double>(mag) * 100;
      auto h = static_cast<unsigned long long>(std::nearbyintl(hundredths));
      unsigned cents = static_cast<unsigned>(h % 100);
      std::string text = std::to_string(h / 100);
      text += '.';
      text += static_cast<char>('0' + cents / 10);
      text += static_cast<char>('0' + cents % 10);
      return text;
    }
  }
  char buf[400];
  snprintf(buf, sizeof buf, "%.2f", mag);
  return buf;
}

}  // namespace

std::string VacationText(double days) {
  const char* sign = days < 0 ? "-" : " ";
  double mag = days < 0 ? -days : days;
  const char* prefix = (days >= 100 || days <= -100) ? ""
                       : (days >= 10 || days <= -10) ? " "
                                                     : "  ";
  std::string text = prefix + TwoDecimals(mag) + sign;
  size_t dot = text.find('.');
  if (dot != std::string::npos) text[dot] = ',';
  return Cut(text, kDisplayLen);
}

Status GetPersonSprSal(Connection& c, const std::string& schema, BadgeRecord* r) {
  if (!IsValidSchemaName(schema)) return Status(kInvalidSchema, Outcome::kFailed, "invalid client schema");
  std::string text = BuildStatement(kPerson, schema + kPnrTable);
  Row row;
  Status s = FetchFirstRow(c, kPersonNo, text, PersonnelKey(*r), &row);
  if (!s.ok()) return s.At("Zrt300Pnr");
  char spr[32];
  snprintf(spr, sizeof spr, "%d", ColumnInt(row, 0));
  r->pnr_spr = Cut(spr, kPnrSprWidth - 1);
  r->pnr_sal = ColumnText(row, 1, kPnrSalWidth);
  return Status::Ok();
}

Status GetBalances(Connection& c, BadgeRecord* r) {
  int32_t value[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  Row row;
  int rc = c.Execute(kBalanceNo, kBalances, {Param::Text(PersonnelKey(*r), kPnrWidth - 1)}, &row);
  if (rc == kSqlOk) {
    for (size_t i = 0; i < 8; ++i) value[i] = ColumnInt(row, i);
  }
  for (size_t i = 0; i < 8; ++i) r->balance[i] = BalanceText(value[i]);
  return c.status().At("Zrt320Tgb");
}

Status ReadLabels(Connection& c, LabelSlots* slots) {
  Status s = (c.Open(kLabelCursorNo, kOpenLabelCursor, {}), c.status());
  for (std::string& slot : *slots) {
    if (!s.ok()) break;
    Row row;
    if (c.Fetch(kLabelCursorNo, &row) != kSqlOk) {
      s = c.status();
      break;
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%-12s ", ColumnText(row, 1, kLabelTextWidth).c_str());
    slot = Cut(buf, kLabelLen);
  }
  c.Close(kLabelCursorNo);
  if (s.no_row()) return Status::Ok();  // fewer labels than slots
  return s.At("Sal_DspTxt_C");
}

Status GetVacation(Connection& c, const std::string& schema, BadgeRecord* r) {
  double gur = 0.0, vjr = 0.0, vtg = 0.0, rtg = 0.0, gut = 0.0;
  Status result(kInvalidSchema, Outcome::kFailed, "invalid client schema");
  if (IsValidSchemaName(schema)) {
    std::string key = PersonnelKey(*r);
    Row row;
    Status year =
        FetchFirstRow(c, kYearAccountNo, BuildStatement(kYearAccount, schema + kUrvTable), key, &row)
            .At("Zrt332Urv");
    if (year.ok()) {
      gur = Column(row, 0).Real();
      vjr = Column(row, 1).Real();
    }
    row.clear();
    Status day =
        FetchFirstRow(c, kDayRecordNo, BuildStatement(kDayRecord, schema + kUtgTable), key, &row)
            .At("Zrt332Utg");
    if (day.ok()) {
      vtg = Column(row, 1).Real();
      rtg = Column(row, 2).Real();
      gut = Column(row, 3).Real();
    }
    if (!year.answered()) {
      result = year;
    } else if (!day.answered()) {
      result = day;
    } else {
      int missing = (year.no_row() ? kSqlNotFound : 0) + (day.no_row() ? kSqlNotFound : 0);
      result = missing == 0 ? Status::Ok() : Status(missing, Outcome::kNoRow);
    }
  }
  r->vacation[0] = VacationText(gur);
  r->vacation[1] = VacationText(gut);
  r->vacation[2] = VacationText(vtg);
  r->vacation[3] = VacationText(rtg);
  r->vacation[4] = VacationText(vjr);
  return result;
}

}  // namespace plom
