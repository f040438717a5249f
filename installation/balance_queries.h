// Balance, label, vacation and person queries: a person's account data as
// display-ready texts in the badge record.
//
// Every result field is cleared before its statement runs, so a failed or
// empty lookup never shows another badge's figures.
#pragma once

#include <array>
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

// PnrSpr ("%d") and PnrSal of the badge's person; no row leaves them as
// they were.
Status GetPersonSprSal(Connection& c, const std::string& schema, BadgeRecord* r);
// The eight balance texts of the previous day. The texts are written
// whatever the outcome; without a row (or with a sum beyond the 32-bit
// range, a bad value of this person's row) they show zero.
Status GetBalances(Connection& c, BadgeRecord* r);

// The labels 301 to 308 in ascending number (cursor Sal_DspTxt_C), each as
// "%-12s " (13 characters, a longer label cut to 13); the slots of labels
// that do not exist keep what they held.
constexpr size_t kLabelSlots = 8;
using LabelSlots = std::array<std::string, kLabelSlots>;
Status ReadLabels(Connection& c, LabelSlots* slots);

// The five vacation texts (zero where a row is missing). Answers ok when
// both rows were found and no row when one or neither was; its sqlcode then
// is 100 for each missing row (100 or 200). A fetch that fails is the
// outcome (the yearly account's first).
Status GetVacation(Connection& c, const std::string& schema, BadgeRecord* r);

}  // namespace plom
