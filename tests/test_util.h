// Helpers for tests on embedded databases laid out for the case.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "db/runtime.h"

namespace plom::test {

// A fresh embedded database in a temporary file, with the central tables.
class TestDb {
 public:
  TestDb();
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  // Lays out the per-client tables of a schema.
  void AddClientTables(const std::string& schema);
  // Runs SQLite SQL directly (UTF-8); fails the test on error.
  void Exec(const std::string& sql);
  const std::string& path() const { return path_; }
  // The server name that selects this database.
  std::string server() const { return "sqlite:" + path_; }
  // A connection through the embedded backend.
  std::unique_ptr<Connection> Connect();

 private:
  std::string dir_;
  std::string path_;
};

// Local date/time shifted by whole days, as 'YYYY-MM-DD HH:MM:SS'
// (midnight when at_midnight).
std::string DateTime(int offset_days, bool at_midnight = true);
// Local date shifted by whole days as yyyymmdd.
std::string Ymd(int offset_days);
// The text with the dates near today (yyyymmdd within 800 days) written as
// {D+n} / {D-n}, and today's "%d.%m.%y" date as {TODAY}: the form of the
// golden files.
std::string StableDates(std::string s);
// A fresh temporary directory.
std::string TempDir();

// One well-formed configuration entry, its value enciphered; eol ends both
// of its lines.
std::string IniEntry(const std::string& group, int number, const std::string& key,
                     const std::string& plain, const std::string& eol = "\n");
// The configuration file of a run: login "sa", password "geheim", the
// server, and the schema "ZrSystem." (the tool drops its last character).
void WriteRunConfig(const std::string& path, const std::string& server);
// Reads a whole file; empty when missing.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

// SQL literal of a text, quotes doubled; nullptr gives NULL.
std::string Lit(const char* s);
std::string Lit(const std::string& s);

// Child processes through the POSIX shell (defined in tests/shell.cc, which
// only POSIX builds of the tests hold).
// The exit status in a std::system or pclose result; -1 when the command
// did not exit by itself.
int ExitStatus(int wait_status);
// Runs a shell command; returns what it wrote to standard output and leaves
// its exit status (as ExitStatus) in *status.
std::string ShellOutput(const std::string& command, int* status);

// Captures what is written to a FILE* (for Messages).
class Capture {
 public:
  Capture();
  ~Capture();
  FILE* file() { return f_; }
  std::string Text();

 private:
  FILE* f_;
};

// The sample installation in a fresh temporary directory, laid out as make
// demo lays it out: root_/files/plomvarde.db built by plomvarde-sample,
// root_/files/korvantis.ini naming it for the terminal's working directory
// cwd_ = root_/run/terminal. Removed after the test.
class SampleInstallation : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // (Re)builds the database with plomvarde-sample and the arguments; fails
  // the test when plomvarde-sample does not exit with 0.
  void LayOut(const std::string& sample_args);

  std::string root_, cwd_, db_;
};

}  // namespace plom::test
