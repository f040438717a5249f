// The connection of a run and the client schemas that belong to it.
#pragma once

#include <string>

#include "db/runtime.h"

namespace plom {

constexpr size_t kMaxConnectParamLen = 100;  // server "." login, schema "." password
constexpr size_t kMaxTerminalLen = 10;
constexpr size_t kMaxSchemaLen = 20;

// Opens the connection. Returns 0 when connected; otherwise the sqlcode of
// the failure (the backend's message in c->last_error()). The two composed
// connect parameters (server.login, schema.password) must each fit in 100
// characters.
// read_only: see ConnectSettings::read_only.
int ConnectDatabase(Connection* c, const std::string& login, const std::string& password,
                    const std::string& server, const std::string& schema,
                    bool read_only = false);

// Cursor MND_SCHEMAREST_C: the client schemas assigned to the terminal.
int OpenTerminalSchemaCursor(Connection& c, const std::string& terminal);
int FetchTerminalSchema(Connection& c, std::string* schema);
int CloseTerminalSchemaCursor(Connection& c);

// Cursor MND_SCHEMAALL_C: all client schemas.
int OpenAllSchemaCursor(Connection& c);
int FetchAllSchema(Connection& c, std::string* schema);
int CloseAllSchemaCursor(Connection& c);

}  // namespace plom
