#include "db/odbc_settings.h"

#include <cctype>

#include "db/tsql.h"
#include "version.h"

namespace plom {
namespace {

constexpr char kMask[] = "***";

std::string_view Strip(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsPasswordKey(std::string_view key) {
  return EqualsNoCase(key, "PWD") || EqualsNoCase(key, "Password");
}

bool HasKey(const std::vector<ConnAttr>& attrs, std::string_view key) {
  for (const ConnAttr& a : attrs) {
    if (EqualsNoCase(a.key, key)) return true;
  }
  return false;
}

// Appends key=value; false (and *refusal set) when the driver cannot be
// given the value.
bool Append(std::string* out, std::string_view key, std::string_view value, const DriverTraits& t,
            std::string* refusal) {
  out->append(key);
  out->push_back('=');
  if (!t.freetds) {
    out->append(QuoteConnValue(value));
  } else if (value.find(';') != std::string_view::npos ||
             (!value.empty() && (value.front() == '{' || value.front() == ' ' ||
                                 value.back() == ' '))) {
    // FreeTDS reads a braced value up to "};" and takes "}}" as two
    // characters: the value goes in braces as it is.
    if (value.find("};") != std::string_view::npos) {
      if (refusal != nullptr) {
        *refusal = (EqualsNoCase(key, "PWD")        ? std::string("the password")
                    : EqualsNoCase(key, "UID")      ? std::string("the login")
                    : EqualsNoCase(key, "DATABASE") ? std::string("the schema")
                                                    : std::string(key)) +
                   " holds \"}\" followed by \";\", which the FreeTDS driver cannot read in a "
                   "connection string";
      }
      return false;
    }
    out->push_back('{');
    out->append(value);
    out->push_back('}');
  } else {
    out->append(value);
  }
  out->push_back(';');
  return true;
}

// DATABASE, UID and PWD, each unless already named.
bool AppendCredentials(std::string* out, const ConnectSettings& s,
                       const std::vector<ConnAttr>& present, const DriverTraits& t,
                       std::string* refusal) {
  if (!s.schema.empty() && !HasKey(present, "DATABASE") &&
      !Append(out, "DATABASE", s.schema, t, refusal)) {
    return false;
  }
  if (!HasKey(present, "UID") && !HasKey(present, "User") &&
      !Append(out, "UID", s.login, t, refusal)) {
    return false;
  }
  if (!HasKey(present, "PWD") && !HasKey(present, "Password") &&
      !Append(out, "PWD", s.password, t, refusal)) {
    return false;
  }
  return true;
}

// The value of a key, or "" when the string does not name it.
std::string ValueOf(const std::vector<ConnAttr>& attrs, std::string_view key) {
  for (const ConnAttr& a : attrs) {
    if (EqualsNoCase(a.key, key)) return a.value;
  }
  return std::string();
}

// Whether a TDS_Version value asks for 7.4 or later.
bool AtLeastTds74(std::string_view v) {
  v = Strip(v);
  size_t dot = v.find('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  int major = 0, minor = 0;
  for (char c : v.substr(0, dot)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    major = major * 10 + (c - '0');
  }
  std::string_view rest = v.substr(dot + 1);
  if (rest.empty()) return false;
  for (char c : rest) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    minor = minor * 10 + (c - '0');
  }
  return major > 7 || (major == 7 && minor >= 4);
}

// Scans one pair starting at *pos; returns false at the end of the text.
// *begin/*end delimit the value as written (braces included).
bool NextAttr(std::string_view conn, size_t* pos, ConnAttr* attr, size_t* begin, size_t* end,
              bool freetds) {
  size_t i = *pos;
  while (i < conn.size() && (conn[i] == ';' || conn[i] == ' ')) ++i;
  if (i >= conn.size()) return false;
  size_t eq = i;
  while (eq < conn.size() && conn[eq] != '=' && conn[eq] != ';') ++eq;
  attr->key = std::string(Strip(conn.substr(i, eq - i)));
  attr->value.clear();
  if (eq >= conn.size() || conn[eq] == ';') {
    *begin = *end = eq;
    *pos = eq;
    return true;
  }
  size_t v = eq + 1;
  while (v < conn.size() && conn[v] == ' ') ++v;
  *begin = v;
  if (v < conn.size() && conn[v] == '{' && freetds) {
    size_t j = v + 1;
    while (j < conn.size() && !(conn[j] == '}' && (j + 1 == conn.size() || conn[j + 1] == ';'))) {
      ++j;
    }
    attr->value = std::string(conn.substr(v + 1, j - v - 1));
    *end = j < conn.size() ? j + 1 : j;
  } else if (v < conn.size() && conn[v] == '{') {
    size_t j = v + 1;
    for (; j < conn.size(); ++j) {
      if (conn[j] == '}') {
        if (j + 1 < conn.size() && conn[j + 1] == '}') {
          attr->value.push_back('}');
          ++j;
          continue;
        }
        break;
      }
      attr->value.push_back(conn[j]);
    }
    *end = j < conn.size() ? j + 1 : j;
    while (*end < conn.size() && conn[*end] != ';') ++*end;
  } else {
    size_t j = v;
    while (j < conn.size() && conn[j] != ';') ++j;
    attr->value = std::string(Strip(conn.substr(v, j - v)));
    *end = j;
  }
  *pos = *end;
  return true;
}

}  // namespace

ServerForm ClassifyServer(std::string_view server, bool names_data_source) {
  if (server.find('=') != std::string_view::npos) return ServerForm::kConnectionString;
  if (names_data_source) return ServerForm::kDataSource;
  return ServerForm::kHost;
}

std::vector<ConnAttr> ParseConnectionString(std::string_view conn, bool freetds) {
  std::vector<ConnAttr> attrs;
  size_t pos = 0, begin = 0, end = 0;
  ConnAttr a;
  while (NextAttr(conn, &pos, &a, &begin, &end, freetds)) {
    if (!a.key.empty()) attrs.push_back(a);
  }
  return attrs;
}

std::string QuoteConnValue(std::string_view v) {
  bool braces = !v.empty() && (v.front() == ' ' || v.back() == ' ');
  for (char c : v) {
    if (c == ';' || c == '{' || c == '}') braces = true;
  }
  if (!braces) return std::string(v);
  std::string out = "{";
  for (char c : v) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

DriverTraits TraitsOfDriver(std::string_view driver) {
  std::string low(driver);
  for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  DriverTraits t;
  t.freetds = low.find("freetds") != std::string::npos || low.find("tdsodbc") != std::string::npos;
  t.sql_server = t.freetds || low.find("sql server") != std::string::npos ||
                 low.find("msodbcsql") != std::string::npos ||
                 low.find("sqlncli") != std::string::npos;
  return t;
}

std::string ApplicationName() { return std::string("plomvarde ") + PLOM_VERSION; }

DriverTraits TraitsOf(const ConnectSettings& s, bool names_data_source,
                      std::string_view dsn_driver) {
  switch (ClassifyServer(s.server, names_data_source)) {
    case ServerForm::kConnectionString: {
      std::string driver = ValueOf(ParseConnectionString(s.server), "DRIVER");
      return TraitsOfDriver(driver.empty() ? dsn_driver : std::string_view(driver));
    }
    case ServerForm::kDataSource:
      return TraitsOfDriver(dsn_driver);
    case ServerForm::kHost:
      break;
  }
  return TraitsOfDriver("FreeTDS");
}

std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source,
                                  std::string_view dsn_driver, std::string* refusal) {
  std::string out;
  std::vector<ConnAttr> present;
  const DriverTraits t = TraitsOf(s, names_data_source, dsn_driver);
  bool ok = true;
  switch (ClassifyServer(s.server, names_data_source)) {
    case ServerForm::kConnectionString: {
      present = ParseConnectionString(s.server, t.freetds);
      out = s.server;
      while (!out.empty() && out.back() == ' ') out.pop_back();
      if (!out.empty() && out.back() != ';') out.push_back(';');
      ok = AppendCredentials(&out, s, present, t, refusal);
      break;
    }
    case ServerForm::kDataSource:
      ok = Append(&out, "DSN", Strip(s.server), t, refusal) &&
           AppendCredentials(&out, s, {}, t, refusal);
      break;
    case ServerForm::kHost: {
      std::string_view host = Strip(s.server);
      std::string_view port;
      size_t comma = host.find(',');
      if (comma != std::string_view::npos) {
        port = Strip(host.substr(comma + 1));
        host = Strip(host.substr(0, comma));
        // A port names the instance's listener; the instance name is not
        // needed beside it.
        size_t bs = host.find('\\');
        if (bs != std::string_view::npos) host = host.substr(0, bs);
      }
      out = "DRIVER={FreeTDS};";
      ok = Append(&out, "SERVER", host, t, refusal) &&
           (port.empty() || Append(&out, "PORT", port, t, refusal)) &&
           AppendCredentials(&out, s, {}, t, refusal);
      break;
    }
  }
  if (!ok) return std::string();
  if (t.freetds) {
    std::string version = ValueOf(present, "TDS_Version");
    if (version.empty()) {
      out += "TDS_Version=7.4;";
    } else if (!AtLeastTds74(version)) {
      if (refusal != nullptr) {
        *refusal = "TDS_Version=" + version +
                   " in the server name: the tool logs in with TDS 7.4 or later only";
      }
      return std::string();
    }
  }
  if (t.sql_server && !HasKey(present, "APP")) out += "APP=" + ApplicationName() + ";";
  return out;
}

std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source) {
  std::string refusal;
  return BuildConnectionString(s, names_data_source, "", &refusal);
}

std::string MaskConnectionString(std::string_view conn, bool freetds) {
  std::string out;
  size_t pos = 0, begin = 0, end = 0, copied = 0;
  ConnAttr a;
  while (NextAttr(conn, &pos, &a, &begin, &end, freetds)) {
    if (IsPasswordKey(a.key) && begin < end) {
      out.append(conn.substr(copied, begin - copied));
      out += kMask;
      copied = end;
    }
  }
  out.append(conn.substr(copied));
  return out;
}

std::string ScrubSecrets(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    size_t at = 0;
    while ((at = text.find(secret, at)) != std::string::npos) {
      text.replace(at, secret.size(), kMask);
      at += sizeof kMask - 1;
    }
  }
  return text;
}

std::vector<std::string> SecretsOf(const ConnectSettings& s) {
  std::vector<std::string> secrets;
  if (!s.password.empty()) secrets.push_back(s.password);
  if (s.server.find('=') != std::string::npos) {
    for (const ConnAttr& a : ParseConnectionString(s.server)) {
      if (IsPasswordKey(a.key) && !a.value.empty()) secrets.push_back(a.value);
    }
  }
  // Longer secrets first, so that one holding another is masked whole.
  for (size_t i = 1; i < secrets.size(); ++i) {
    for (size_t j = i; j > 0 && secrets[j].size() > secrets[j - 1].size(); --j) {
      std::swap(secrets[j], secrets[j - 1]);
    }
  }
  return secrets;
}

}  // namespace plom
