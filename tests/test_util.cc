#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "config/cipher.h"

namespace plom::test {

std::string TempDir() {
  namespace fs = std::filesystem;
  static std::mt19937_64 random(
      std::random_device{}() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "plomtest.%08llx",
                  static_cast<unsigned long long>(random() & 0xffffffffu));
    std::error_code ec;
    // create_directory is false for a name that exists: take another.
    if (fs::create_directory(base / name, ec)) return (base / name).generic_string();
  }
  ADD_FAILURE() << "no temporary directory in " << base;
  return base.generic_string();
}

std::string DateTime(int offset_days, bool at_midnight) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  tm.tm_mday += offset_days;
  tm.tm_isdst = -1;
  if (at_midnight) tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  mktime(&tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string Ymd(int offset_days) {
  std::string d = DateTime(offset_days);
  return d.substr(0, 4) + d.substr(5, 2) + d.substr(8, 2);
}

std::string StableDates(std::string s) {
  std::map<std::string, std::string> dates;
  for (int k = -800; k <= 800; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "{D%+d}", k);
    dates[Ymd(k)] = name;
  }
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (i + 8 <= s.size()) {
      auto it = dates.find(s.substr(i, 8));
      if (it != dates.end()) {
        out += it->second;
        i += 8;
        continue;
      }
    }
    out += s[i++];
  }
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char today[16];
  strftime(today, sizeof today, "%d.%m.%y", &tm);
  for (size_t at; (at = out.find(today)) != std::string::npos;) out.replace(at, 8, "{TODAY}");
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

Capture::Capture() : f_(std::tmpfile()) {}
Capture::~Capture() {
  if (f_) std::fclose(f_);
}
std::string Capture::Text() {
  std::fflush(f_);
  long end = std::ftell(f_);
  std::string s(static_cast<size_t>(end), '\0');
  std::rewind(f_);
  size_t n = std::fread(s.data(), 1, s.size(), f_);
  s.resize(n);
  std::fseek(f_, 0, SEEK_END);
  return s;
}

std::string Lit(const char* s) { return s ? Lit(std::string(s)) : "NULL"; }

std::string Lit(const std::string& s) {
  std::string out = "'";
  for (char ch : s) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

std::string IniEntry(const std::string& group, int number, const std::string& key,
                     const std::string& plain, const std::string& eol) {
  return "DB;" + group + ";" + eol + std::to_string(number) + ";" + key + ";" +
         EncipherValue(plain) + eol;
}

void WriteRunConfig(const std::string& path, const std::string& server) {
  WriteFile(path, IniEntry("Korvantis", 1, "LOGIN", "sa", "\r\n") +
                      IniEntry("Korvantis", 2, "PASS", "geheim", "\r\n") +
                      IniEntry("Korvantis", 3, "SQLSERVER", server, "\r\n") +
                      IniEntry("Korvantis", 4, "SCHEMA", "ZrSystem.", "\r\n"));
}

}  // namespace plom::test
