// Admission checks of a badge's access class on a terminal.
//
// The answers depend only on the terminal, the access class and the highest
// reader number, and neither the readers nor the permission rows change
// during a run: an AdmissionCache keeps each answer (with the reader numbers
// that the access check records) for the rest of the run.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "installation/badge_record.h"
#include "db/runtime.h"

namespace plom {

class AdmissionCache {
 public:
  // When disabled, every check runs its statements (the literal sequence).
  explicit AdmissionCache(bool enabled = true) : enabled_(enabled) {}
  bool enabled() const { return enabled_; }

  struct AccessAnswer {
    bool found = false;
    std::vector<int> readers;  // reader numbers 1..11 fetched, ascending
  };
  using AccessKey = std::tuple<std::string, std::string, int>;  // terminal, class, highest
  using TimeKey = std::pair<std::string, std::string>;          // terminal, class

  std::map<AccessKey, AccessAnswer> access;
  std::map<TimeKey, bool> time;

 private:
  bool enabled_;
};

// Whether the record's access class is permitted on at least one reader of
// the terminal up to the highest reader number, in *permitted. With
// record_readers, writes each fetched reader's number ("%02d") into its slot
// (readers 1 to 11). A failed check answers nothing and is not kept.
Status HasAccessPermission(Connection& c, AdmissionCache& cache, BadgeRecord* r,
                           const std::string& terminal, int highest, bool record_readers,
                           bool* permitted);

// Whether the badge may record time, in *permitted: false only when reader 1
// of the terminal carries a type-3 permission row for the access class.
Status HasTimePermission(Connection& c, AdmissionCache& cache, const BadgeRecord& r,
                         const std::string& terminal, bool* permitted);

}  // namespace plom
