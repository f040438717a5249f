// The DDL of the embedded database, split into the central part and the
// part laid out once per client schema.
#pragma once

#include <string>

namespace plom {

// Central tables (schema ZrSystem, the line store, the daily balances).
std::string CentralDdl();
// The per-client tables of one client schema.
std::string ClientDdl(const std::string& schema);

}  // namespace plom
