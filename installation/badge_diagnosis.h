// Why the badge cursor lists a badge or not: every row of one badge number,
// whatever its client and validity, with what the badge cursor asks of it.
#pragma once

#include <string>
#include <vector>

#include "db/runtime.h"

namespace plom {

struct BadgeRowFacts {
  std::string valid_from;        // yyyymmdd or empty
  std::string valid_to;          // yyyymmdd or empty
  std::string access_class;      // AswBkl as stored, trimmed
  std::string schema;            // MNDSCH of the badge's client; empty without one
  bool client_found = false;     // a client row matches ASWLIZ/ASWMND
  bool client_excluded = false;  // that client has MndKon = 1
  bool current = false;          // the validity window holds the present moment
  int locations = 0;             // rows in Zrt113Awv (the cursor needs one)
};

// Every row of the badge number in ZrSystem.Zrt301Asw, in the order of
// validity start. Returns 0 (rows found), 100 (no such badge) or the
// negative sqlcode of a failed open or fetch (*rows then incomplete).
int ListBadgeRows(Connection& c, const std::string& badge, std::vector<BadgeRowFacts>* rows);

// Whether the badge cursor of the schema lists this row.
bool ListedFor(const BadgeRowFacts& row, const std::string& schema);

}  // namespace plom
