#include "installation/connection.h"

#include "installation/statements.h"

namespace plom {
namespace {

constexpr int kTerminalSchemaCursor = stmt::kTerminalSchemaCursor.no;
constexpr int kAllSchemaCursor = stmt::kAllSchemaCursor.no;
constexpr const char* kTerminalSchemaSql = stmt::kTerminalSchemaCursor.text;
constexpr const char* kAllSchemaSql = stmt::kAllSchemaCursor.text;

int FetchSchema(Connection& c, int cursor, std::string* schema) {
  Row row;
  int rc = c.Fetch(cursor, &row);
  if (rc != 0) return rc;
  std::string s = row.empty() ? std::string() : row[0].Text();
  TrimRight(&s);
  *schema = Cut(s, kMaxSchemaLen);
  return 0;
}

}  // namespace

int ConnectDatabase(Connection* c, const std::string& login, const std::string& password,
                    const std::string& server, const std::string& schema, bool read_only) {
  if (server.size() + 1 + login.size() > kMaxConnectParamLen ||
      schema.size() + 1 + password.size() > kMaxConnectParamLen) {
    c->SetError(kSqlFailed, "connect parameters longer than 100 characters");
    return kSqlFailed;
  }
  ConnectSettings s{server, login, password, schema, read_only};
  int sqlcode = 0;
  std::string error;
  auto backend = OpenBackend(s, &sqlcode, &error);
  if (!backend) {
    if (sqlcode == 0) sqlcode = kSqlFailed;
    c->SetError(sqlcode, error);
    return sqlcode;
  }
  c->Attach(std::move(backend));
  return 0;
}

int OpenTerminalSchemaCursor(Connection& c, const std::string& terminal) {
  return c.Open(kTerminalSchemaCursor, kTerminalSchemaSql,
                {Param::Text(Cut(terminal, kMaxTerminalLen), kMaxTerminalLen)});
}
int FetchTerminalSchema(Connection& c, std::string* schema) {
  return FetchSchema(c, kTerminalSchemaCursor, schema);
}
int CloseTerminalSchemaCursor(Connection& c) { return c.Close(kTerminalSchemaCursor); }

int OpenAllSchemaCursor(Connection& c) { return c.Open(kAllSchemaCursor, kAllSchemaSql, {}); }
int FetchAllSchema(Connection& c, std::string* schema) {
  return FetchSchema(c, kAllSchemaCursor, schema);
}
int CloseAllSchemaCursor(Connection& c) { return c.Close(kAllSchemaCursor); }

}  // namespace plom
