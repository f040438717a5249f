#include "db/odbc_backend.h"

namespace plom {

std::unique_ptr<Backend> OdbcBackend::Open(const ConnectSettings& s, int* sqlcode,
                                           std::string* error) {
  *sqlcode = -1;
  *error = "ODBC backend not available";
  return nullptr;
}

}  // namespace plom
