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
//       PWD=password;TDS_Version=7.4;APP=plomvarde VERSION
// An empty schema adds no DATABASE (the login's default database serves).
// The database travels in the login, so the connect's timeout covers it.
//
// Through a SQL Server driver the string also names the application (APP);
// through FreeTDS it asks for TDS 7.4 unless it says a version itself, and
// values are quoted as FreeTDS reads them: in braces, "}" not doubled (a
// braced value ends at "};"), so a value holding "};" cannot be given.
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

// What the connection string depends on of the driver it goes through.
struct DriverTraits {
  bool freetds = false;     // quoting as FreeTDS reads it, TDS_Version
  bool sql_server = false;  // takes APP
};
// The traits of a driver by its name as odbc.ini or a DRIVER value gives it
// ("FreeTDS", a path to libtdsodbc.so, "ODBC Driver 18 for SQL Server").
DriverTraits TraitsOfDriver(std::string_view driver);

// The traits of the driver a connection goes through: the host form's
// FreeTDS, a connection string's DRIVER, or else the data source's driver
// (dsn_driver, as odbc.ini names it; empty when unknown).
DriverTraits TraitsOf(const ConnectSettings& s, bool names_data_source,
                      std::string_view dsn_driver);

// The connection string for the settings; dsn_driver is the driver that
// odbc.ini names for a data source (the server name, or the DSN value of a
// connection string), empty when none. On a value that the driver cannot
// be given returns "" and says why in *refusal (without the value).
std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source,
                                  std::string_view dsn_driver, std::string* refusal);
// The same for a driver of unknown kind (ODBC quoting, nothing added).
std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source);

// The application name sent to SQL Server: "plomvarde VERSION".
std::string ApplicationName();

// The connection string with every password value (PWD, Password) shown as
// "***": the only form of it that may appear in a message. freetds: the
// string is quoted as for FreeTDS (see above).
std::string MaskConnectionString(std::string_view conn, bool freetds = false);

// One key=value pair of a connection string; the value without braces.
struct ConnAttr {
  std::string key;
  std::string value;
};
// Splits a connection string into its pairs. Values in braces may hold ";"
// ("}}" stands for "}" inside them; for FreeTDS a braced value ends at "};"
// or at the end, and "}" stands for itself).
std::vector<ConnAttr> ParseConnectionString(std::string_view conn, bool freetds = false);

// A value as it must stand in a connection string: in braces when it holds
// a character that would end or open a value, or outer blanks.
std::string QuoteConnValue(std::string_view v);

// The text with each non-empty secret replaced by "***".
std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets);

// The secrets of the settings: the password and any password value that a
// server name given as a connection string holds.
std::vector<std::string> SecretsOf(const ConnectSettings& s);

}  // namespace plom
