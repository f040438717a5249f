// How the configured connection values become an ODBC connection string.
//
// The server name takes one of three forms:
//   - the name of an ODBC data source (odbc.ini):
//       DSN=server;DATABASE=schema;UID=login;PWD=password
//   - anything containing "=": the start of a connection string, to which
//     DATABASE, UID and PWD are added unless it already names them;
//   - otherwise a host, "host", "host,port" or "host\instance", reached
//     with the FreeTDS driver:
//       DRIVER={FreeTDS};SERVER=host;PORT=port;DATABASE=schema;UID=login;
//       PWD=password;TDS_Version=7.4
// An empty schema adds no DATABASE (the login's default database serves).
//
// Nothing here talks to the driver manager: whether a name is a data source
// is decided by the caller, so the builder can be tested without a server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/runtime.h"

namespace plom {

enum class ServerForm { kDataSource, kConnectionString, kHost };

// The form of a server name; names_data_source tells whether the driver
// manager knows a data source of that name.
ServerForm ClassifyServer(std::string_view server, bool names_data_source);

// The connection string for the settings.
std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source);

// The connection string with every password value (PWD, Password) shown as
// "***": the only form of it that may appear in a message.
std::string MaskConnectionString(std::string_view conn);

// One key=value pair of a connection string; the value without braces.
struct ConnAttr {
  std::string key;
  std::string value;
};
// Splits a connection string into its pairs. Values in braces may hold ";"
// ("}}" stands for "}" inside them).
std::vector<ConnAttr> ParseConnectionString(std::string_view conn);

// A value as it must stand in a connection string: in braces when it holds
// a character that would end or open a value, or outer blanks.
std::string QuoteConnValue(std::string_view v);

// The text with each non-empty secret replaced by "***".
std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets);

// The secrets of the settings: the password and any password value that a
// server name given as a connection string holds.
std::vector<std::string> SecretsOf(const ConnectSettings& s);

}  // namespace plom
