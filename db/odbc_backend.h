// The production backend: SQL Server (or another ODBC data source) through
// the ODBC driver manager.
#pragma once

#include <memory>
#include <string>

#include "db/runtime.h"

namespace plom {

class OdbcBackend : public Backend {
 public:
  static std::unique_ptr<Backend> Open(const ConnectSettings& s, int* sqlcode,
                                       std::string* error);
};

}  // namespace plom
