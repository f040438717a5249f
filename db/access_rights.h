// Access-right queries: a badge of access class "0" takes its access class
// and validity from an access-right assignment of the current client schema,
// found through its badge group or the holder's organisational assignments.
//
// Each query returns the sqlcode of its fetch: 0 when a right was found and
// written into the record (validity and class, plus group, cost centre or
// department as the query says), 100 when none, negative on error. The key
// (badge group or personnel number) is bound as a parameter.
#pragma once

#include <string>

#include "db/badge_record.h"
#include "db/runtime.h"

namespace plom {

int BZU_SelAwsGrp(Connection& c, BadgeRecord* r);
int BZU_SelKst(Connection& c, BadgeRecord* r);
int BZU_SelKstGrp(Connection& c, BadgeRecord* r);
int BZU_SelAbt(Connection& c, BadgeRecord* r);
int BZU_SelAbtGrp(Connection& c, BadgeRecord* r);
int BZU_SelAkr(Connection& c, BadgeRecord* r);

// The access-right resolution: a class other than "0  " counts as resolved;
// for "0  " the six queries run in order until one finds a right. Returns
// whether the class is resolved.
bool ResolveAccessClass(Connection& c, BadgeRecord* r);

// Whether a client schema name may enter statement texts: 1 to 20 letters,
// digits and "_".
bool IsValidSchemaName(const std::string& schema);

}  // namespace plom
