// Balance, label, vacation and person queries: a person's account data as
// display-ready texts in the badge record.
//
// Every result field is cleared before its statement runs, so a failed or
// empty lookup never shows another badge's figures.
#pragma once

#include <cstdint>
#include <string>

#include "installation/badge_record.h"
#include "db/runtime.h"

namespace plom {

// Balance in minutes as 7 characters: "%s%d,%02d%s" with prefix and sign
// character behind, cut to 7.
std::string BalanceText(int32_t minutes);
// Vacation days as 7 characters: "%s%.2f%s" with decimal comma, cut to 7.
std::string VacationText(double days);

// PnrSpr ("%d") and PnrSal of the badge's person; 100 when no row.
int GetPersonSprSal(Connection& c, const std::string& schema, BadgeRecord* r);
// The eight balance texts of the previous day. The texts are written
// whatever the sqlcode (0 found, 100 no row, negative error); without a row
// they show zero.
int GetBalances(Connection& c, BadgeRecord* r);

// Cursor Sal_DspTxt_C: the labels 301 to 308 in ascending number.
int OpenLabelCursor(Connection& c);
// Writes the next label as "%-12s " (13 characters, a longer label cut to 13).
int FetchLabel(Connection& c, std::string* slot);
int CloseLabelCursor(Connection& c);

// The five vacation texts (zero where a row is missing). Returns the error
// of the yearly account or the day record fetch if either failed (the
// yearly account's first); otherwise 0 when both rows were found, 100 when
// one was not, 200 when neither was.
int GetVacation(Connection& c, const std::string& schema, BadgeRecord* r);

}  // namespace plom
