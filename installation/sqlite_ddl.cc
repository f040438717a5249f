#include "installation/sqlite_ddl.h"

#include <string_view>

#include "schema_sql.h"

namespace plom {
namespace {

// The marker stands on a line of its own.
constexpr std::string_view kClientMarker = "\n-- @client\n";

std::string_view Ddl() { return std::string_view(kSqliteDdl); }

}  // namespace

std::string CentralDdl() {
  std::string_view d = Ddl();
  size_t at = d.find(kClientMarker);
  return std::string(d.substr(0, at));
}

std::string ClientDdl(const std::string& schema) {
  std::string_view d = Ddl();
  size_t at = d.find(kClientMarker);
  if (at == std::string_view::npos) return std::string();
  std::string out(d.substr(at));
  const std::string_view ph = "{SCHEMA}";
  for (size_t p = out.find(ph); p != std::string::npos; p = out.find(ph, p + schema.size())) {
    out.replace(p, ph.size(), schema);
  }
  return out;
}

}  // namespace plom
