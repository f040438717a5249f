// plomvarde-ini: writes, lists, enciphers and deciphers the configuration
// file from which plomvarde takes its database credentials.
//
// Exit status: 0 done, 1 file cannot be read or written, 2 a value the
// file cannot hold, 64 bad arguments (an unknown key among them).

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "config/cipher.h"
#include "config/config_file.h"
#include "platform/files.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIo = 1;
constexpr int kExitData = 2;

// The keys plomvarde reads.
const std::string kKeys[] = {"LOGIN", "PASS", "SQLSERVER", "NET8", "SCHEMA"};

// Longest plain value: the stored value field holds 200 digits, 10 blocks.
constexpr size_t kMaxPlainLen = 40;

const char kUsage[] =
    "usage: plomvarde-ini write FILE KEY=VALUE...\n"
    "       plomvarde-ini show [--show-password] FILE\n"
    "       plomvarde-ini encipher VALUE\n"
    "       plomvarde-ini decipher DIGITS\n"
    "       plomvarde-ini --help | --version\n"
    "\n"
    "write     writes FILE anew (atomically, mode 0600) with one entry per\n"
    "          pair, numbered from 1, lines ending in CR LF. Values are\n"
    "          stored enciphered, at most 40 characters each. KEY is one of\n"
    "          LOGIN, PASS, SQLSERVER, NET8 and SCHEMA.\n"
    "show      lists every entry: number, group, key, deciphered value.\n"
    "          The value of PASS is shown as *** unless --show-password.\n"
    "encipher  prints the stored (digit) form of VALUE.\n"
    "decipher  prints the plain text of a stored value.\n"
    "\n"
    "plomvarde reads ..\\..\\files\\korvantis.ini relative to its working\n"
    "directory and needs the keys LOGIN, PASS, SQLSERVER (or NET8 when\n"
    "SQLSERVER is empty) and SCHEMA. It drops the last character of the\n"
    "SCHEMA value: store \"ZrSystem.\" to connect with schema \"ZrSystem\".\n"
    "\n"
    "exit status: 0 done, 1 file error, 2 value not storable,\n"
    "             64 bad arguments (an unknown key among them)\n";

// The text with control and non-ASCII bytes written as escapes, for listing.
std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// Writes data to path so that a reader sees either the old or the new file;
// only the owner may read it (it holds credentials).
bool WriteAtomically(const std::string& path, const std::string& data) {
  plom::WriteResult w = plom::ReplaceFile(path, data, plom::FileAccess::kOwnerOnly);
  if (w.ok()) return true;
  std::fprintf(stderr, "plomvarde-ini: cannot write %s: %s\n", path.c_str(), w.reason.c_str());
  return false;
}

int Write(const std::string& path, const std::vector<std::string>& pairs) {
  std::string data;
  std::vector<std::string> keys;
  for (size_t i = 0; i < pairs.size(); i++) {
    const std::string& pair = pairs[i];
    size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      return plom::cli::UsageError("plomvarde-ini", "not KEY=VALUE: " + Printable(pair), kUsage);
    }
    std::string key = pair.substr(0, eq);
    std::string value = pair.substr(eq + 1);
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys)) {
      return plom::cli::UsageError(
          "plomvarde-ini",
          "unknown key " + Printable(key) + " (known: LOGIN, PASS, SQLSERVER, NET8, SCHEMA)",
          kUsage);
    }
    for (const std::string& k : keys) {
      if (k == key) {
        return plom::cli::UsageError("plomvarde-ini", "key " + key + " given twice", kUsage);
      }
    }
    keys.push_back(key);
    if (value.size() > kMaxPlainLen) {
      std::fprintf(stderr,
                   "plomvarde-ini: value of %s has %zu characters, at most %zu "
                   "can be stored\n",
                   key.c_str(), value.size(), kMaxPlainLen);
      return kExitData;
    }
    char number[24];
    std::snprintf(number, sizeof number, "%zu", i + 1);
    data += "DB;Korvantis;\r\n";
    data += std::string(number) + ";" + key + ";" + plom::EncipherValue(value) + "\r\n";
  }
  return WriteAtomically(path, data) ? kExitOk : kExitIo;
}

int Show(const std::string& path, bool show_password) {
  std::vector<plom::ConfigEntry> entries;
  if (!plom::ConfigReadAll(path, &entries)) {
    std::fprintf(stderr, "plomvarde-ini: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return kExitIo;
  }
  for (const plom::ConfigEntry& e : entries) {
    std::string value = e.key == "PASS" && !show_password ? "***" : e.value;
    std::printf("%d\t%s\t%s\t%s\n", e.number, Printable(e.group).c_str(), Printable(e.key).c_str(),
                Printable(value).c_str());
    // plomvarde finds its entries by key, but older readers of the file
    // take such an entry as the answer to every key they ask for.
    if (e.group.empty() || e.number == 0) {
      std::fprintf(
          stderr,
          "plomvarde-ini: warning: entry with key %s has an empty "
          "group or number 0; other programs reading this file may take it for every key\n",
          Printable(e.key).c_str());
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    return plom::cli::UsageError("plomvarde-ini", plom::cli::NotStorable(bad), kUsage);
  }
  plom::cli::CommandLine cl;
  if (!plom::cli::Parse(args, {{"show-password", 0, false}}, &cl)) {
    return plom::cli::UsageError("plomvarde-ini", cl.error, kUsage);
  }
  if (cl.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (cl.version) {
    std::fputs(plom::cli::VersionLine("plomvarde-ini").c_str(), stdout);
    return kExitOk;
  }
  const std::vector<std::string>& ops = cl.operands;
  const std::string cmd = ops.empty() ? "" : ops[0];
  bool show_password = cl.Has("show-password");
  if (show_password && cmd != "show") {
    return plom::cli::UsageError("plomvarde-ini", "--show-password goes with show", kUsage);
  }
  if (cmd == "write" && ops.size() >= 3) {
    return Write(ops[1], std::vector<std::string>(ops.begin() + 2, ops.end()));
  }
  if (cmd == "show" && ops.size() == 2) return Show(ops[1], show_password);
  if (cmd == "encipher" && ops.size() == 2) {
    if (ops[1].size() > kMaxPlainLen) {
      std::fprintf(stderr, "plomvarde-ini: at most %zu characters can be stored\n", kMaxPlainLen);
      return kExitData;
    }
    std::printf("%s\n", plom::EncipherValue(ops[1]).c_str());
    return kExitOk;
  }
  if (cmd == "decipher" && ops.size() == 2) {
    std::printf("%s\n", plom::DecipherValue(ops[1]).c_str());
    return kExitOk;
  }
  return plom::cli::UsageError("plomvarde-ini",
                               cmd.empty() ? "a command is needed" : "wrong command line", kUsage);
}
