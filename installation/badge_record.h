// The badge record: the per-badge working record that a generator owns and
// that the badge, access-right, balance and person queries fill.
//
// Fields are byte strings (Windows-1252). Every writer enforces the field's
// width (the column width the statements bind), so no field grows beyond
// what the data model allows. A cleared record holds only empty texts.
#pragma once

#include <array>
#include <string>

namespace plom {

struct BadgeRecord {
  std::string badge_number;             // AswNum, up to 50
  std::string valid_from;               // yyyymmdd or empty
  std::string valid_to;                 // yyyymmdd or empty
  std::string time_flag;                // "0"/"1", IDSTAMM only
  std::string access_flag;              // "0"/"1", IDSTAMM only
  std::string pnr_sal;                  // PnrSal, up to 10
  std::string pnr_spr;                  // PnrSpr formatted "%d"
  std::string access_class;             // "%-3s" of AswBkl/BzuBkl (up to 5)
  std::string location_short;           // first 3 characters of StoKtx
  std::string location_number;          // AwvSto right-aligned, zero-filled to 8
  std::string badge_group;              // AswGrp / BzuZau, up to 5
  std::string personnel_number;         // AswPnr, up to 8
  std::string unfilled;                 // no query writes it; always empty
  std::string asw_atp;                  // AswAtp formatted "%d"
  std::string cost_centre;              // ZuoKst, up to 30
  std::string department;               // ZuoAbt, up to 15
  std::array<std::string, 8> balance;   // balance texts 1..8 (index 0..7), 7 chars when written
  std::array<std::string, 5> vacation;  // vacation texts 1..5 (index 0..4), 7 chars when written
  std::array<std::string, 11> reader_slot;  // slot n at index n-1: "%02d" or two blanks

  // Every field empty; the texts keep their buffers for the next badge.
  void Clear() {
    for (std::string* f :
         {&badge_number, &valid_from, &valid_to, &time_flag, &access_flag, &pnr_sal, &pnr_spr,
          &access_class, &location_short, &location_number, &badge_group, &personnel_number,
          &unfilled, &asw_atp, &cost_centre, &department}) {
      f->clear();
    }
    for (auto& f : balance) f.clear();
    for (auto& f : vacation) f.clear();
    for (auto& f : reader_slot) f.clear();
  }
  // Sets the 11 reader-number slots to two blanks each.
  void PresetReaderSlots() { reader_slot.fill("  "); }
};

}  // namespace plom
