#include "db/odbc_settings.h"

#include <cctype>

#include "db/tsql.h"

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

void Append(std::string* out, std::string_view key, std::string_view value) {
  out->append(key);
  out->push_back('=');
  out->append(QuoteConnValue(value));
  out->push_back(';');
}

// DATABASE, UID and PWD, each unless already named.
void AppendCredentials(std::string* out, const ConnectSettings& s,
                       const std::vector<ConnAttr>& present) {
  if (!s.schema.empty() && !HasKey(present, "DATABASE")) Append(out, "DATABASE", s.schema);
  if (!HasKey(present, "UID") && !HasKey(present, "User")) Append(out, "UID", s.login);
  if (!HasKey(present, "PWD") && !HasKey(present, "Password")) Append(out, "PWD", s.password);
}

// Scans one pair starting at *pos; returns false at the end of the text.
// *begin/*end delimit the value as written (braces included).
bool NextAttr(std::string_view conn, size_t* pos, ConnAttr* attr, size_t* begin, size_t* end) {
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
  if (v < conn.size() && conn[v] == '{') {
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

std::vector<ConnAttr> ParseConnectionString(std::string_view conn) {
  std::vector<ConnAttr> attrs;
  size_t pos = 0, begin = 0, end = 0;
  ConnAttr a;
  while (NextAttr(conn, &pos, &a, &begin, &end)) {
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

std::string BuildConnectionString(const ConnectSettings& s, bool names_data_source) {
  std::string out;
  switch (ClassifyServer(s.server, names_data_source)) {
    case ServerForm::kConnectionString: {
      out = s.server;
      while (!out.empty() && out.back() == ' ') out.pop_back();
      if (!out.empty() && out.back() != ';') out.push_back(';');
      AppendCredentials(&out, s, ParseConnectionString(s.server));
      break;
    }
    case ServerForm::kDataSource:
      Append(&out, "DSN", Strip(s.server));
      AppendCredentials(&out, s, {});
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
      Append(&out, "SERVER", host);
      if (!port.empty()) Append(&out, "PORT", port);
      AppendCredentials(&out, s, {});
      out += "TDS_Version=7.4;";
      break;
    }
  }
  return out;
}

std::string MaskConnectionString(std::string_view conn) {
  std::string out;
  size_t pos = 0, begin = 0, end = 0, copied = 0;
  ConnAttr a;
  while (NextAttr(conn, &pos, &a, &begin, &end)) {
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
