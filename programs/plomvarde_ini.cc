// plomvarde-ini: writes, lists, enciphers and deciphers the configuration
// file from which plomvarde takes its database credentials.
//
// Exit status: 0 done, 1 file cannot be read or written, 2 a value or key
// the file cannot hold, 64 bad arguments.

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/cipher.h"
#include "config/config_file.h"
#include "platform/files.h"
#include "version.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIo = 1;
constexpr int kExitData = 2;
constexpr int kExitUsage = 64;

// Longest plain value: the stored value field holds 200 digits, 10 blocks.
constexpr size_t kMaxPlainLen = 40;

void Usage(FILE* out) {
  std::fputs(
      "usage: plomvarde-ini write FILE KEY=VALUE...\n"
      "       plomvarde-ini show FILE [--show-password]\n"
      "       plomvarde-ini encipher VALUE\n"
      "       plomvarde-ini decipher DIGITS\n"
      "       plomvarde-ini --version\n"
      "\n"
      "write     writes FILE anew (atomically, mode 0600) with one entry per\n"
      "          pair, numbered from 1, lines ending in CR LF. Values are\n"
      "          stored enciphered, at most 40 characters each.\n"
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
      "exit status: 0 done, 1 file error, 2 value or key not storable,\n"
      "             64 bad arguments\n",
      out);
}

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
      std::fprintf(stderr, "plomvarde-ini: not KEY=VALUE: %s\n", pair.c_str());
      return kExitUsage;
    }
    std::string key = pair.substr(0, eq);
    std::string value = pair.substr(eq + 1);
    if (key.find_first_of(";\r\n") != std::string::npos || key.size() > plom::kMaxConfigFieldLen) {
      std::fprintf(stderr,
                   "plomvarde-ini: key %s: no ';' or line end, at most %zu "
                   "characters\n",
                   Printable(key).c_str(), plom::kMaxConfigFieldLen);
      return kExitData;
    }
    for (const std::string& k : keys) {
      if (k == key) {
        std::fprintf(stderr, "plomvarde-ini: key %s given twice\n", key.c_str());
        return kExitData;
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
    std::fprintf(stderr, "plomvarde-ini: cannot open %s\n", path.c_str());
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
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Usage(stdout);
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("plomvarde-ini %s\n", PLOM_VERSION);
    return kExitOk;
  }
  const std::string cmd = args.empty() ? "" : args[0];
  if (cmd == "write" && args.size() >= 3) {
    return Write(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  }
  if (cmd == "show" && args.size() == 2) return Show(args[1], false);
  if (cmd == "show" && args.size() == 3 && args[2] == "--show-password") {
    return Show(args[1], true);
  }
  if (cmd == "encipher" && args.size() == 2) {
    if (args[1].size() > kMaxPlainLen) {
      std::fprintf(stderr, "plomvarde-ini: at most %zu characters can be stored\n", kMaxPlainLen);
      return kExitData;
    }
    std::printf("%s\n", plom::EncipherValue(args[1]).c_str());
    return kExitOk;
  }
  if (cmd == "decipher" && args.size() == 2) {
    std::printf("%s\n", plom::DecipherValue(args[1]).c_str());
    return kExitOk;
  }
  Usage(stderr);
  return kExitUsage;
}
