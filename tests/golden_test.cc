// Golden files: the built plomvarde on the sample installation, every
// download function, download files and standard output byte for byte.
//
// Dates that move with the day of the run are written in the golden files
// as placeholders (test::StableDates).
// PLOM_UPDATE_GOLDEN=1 rewrites the golden files from the current output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include <sqlite3.h>

#include "driver/run.h"
#include "tests/shell.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

const std::string kBin = PLOM_BINARY_DIR;
const std::string kGolden = std::string(PLOM_SOURCE_DIR) + "/tests/golden/";

class Golden : public test::SampleInstallation {
 protected:
  // Runs one function and compares file and output with the golden pair.
  void Check(const std::string& function, const std::string& terminal) {
    std::string name = function + "_" + terminal;
    int status = 0;
    std::string out =
        test::Shell(cwd_, kBin + "/plomvarde " + function + " " + terminal + " out.dnl 1", &status);
    EXPECT_EQ(status, 0) << name;
    std::string file = test::StableDates(test::ReadFile(cwd_ + "/out.dnl"));
    out = test::StableDates(out);
    if (std::getenv("PLOM_UPDATE_GOLDEN")) {
      test::WriteFile(kGolden + name + ".dnl", file);
      test::WriteFile(kGolden + name + ".out", out);
      return;
    }
    EXPECT_EQ(file, test::ReadFile(kGolden + name + ".dnl")) << name;
    EXPECT_EQ(out, test::ReadFile(kGolden + name + ".out")) << name;
  }
};

TEST_F(Golden, EveryFunctionOnTheTwelveReaderTerminal) {
  for (const char* fn : {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"}) {
    Check(fn, "TERM12");
  }
}

TEST_F(Golden, SmallTerminalAndTerminalWithoutClient) {
  Check("VQDNL60P", "TERM03");
  Check("VQDNL18P", "TERM03");
  Check("VQDNL17P", "TERM00");
  Check("IDSTAMM", "TERM00");
}

// Many runs at once on one database (different terminals and download files)
// all succeed and write what they write alone.
TEST_F(Golden, RunsAtTheSameTimeOnOneDatabase) {
  const char* runs[][2] = {{"VQDNL17P", "TERM12"}, {"VQDNL31P", "TERM12"}, {"VQDNL18P", "TERM12"},
                           {"VQDNL60P", "TERM12"}, {"IDSTAMM", "TERM12"},  {"VQDNL60P", "TERM03"},
                           {"VQDNL18P", "TERM03"}, {"VQDNL17P", "TERM00"}, {"IDSTAMM", "TERM00"}};
  std::string script;
  for (int round = 0; round < 3; ++round) {
    for (auto& r : runs) {
      std::string name = std::string(r[0]) + "_" + r[1];
      script += "(" + kBin + "/plomvarde " + r[0] + " " + r[1] + " " + name + ".dnl 1 > " + name +
                ".out; echo $? > " + name + ".rc) & ";
    }
    script += "wait";
    int status = 0;
    test::Shell(cwd_, script, &status);
    ASSERT_EQ(status, 0);
    for (auto& r : runs) {
      std::string name = std::string(r[0]) + "_" + r[1];
      EXPECT_EQ(test::ReadFile(cwd_ + "/" + name + ".rc"), "0\n") << name;
      EXPECT_EQ(test::StableDates(test::ReadFile(cwd_ + "/" + name + ".dnl")),
                test::ReadFile(kGolden + name + ".dnl"))
          << name;
      EXPECT_EQ(test::StableDates(test::ReadFile(cwd_ + "/" + name + ".out")),
                test::ReadFile(kGolden + name + ".out"))
          << name;
    }
    script.clear();
  }
}

// The answers kept for the run and the grouped inserts change nothing in
// what is written: the literal statement sequence gives the same files and
// messages, with more statements.
TEST_F(Golden, KeptAnswersWriteWhatTheLiteralSequenceWrites) {
  fs::path old = fs::current_path();
  fs::current_path(cwd_);
  for (const char* fn : {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"}) {
    std::string files[2], texts[2];
    int64_t statements[2] = {0, 0};
    for (int literal = 0; literal < 2; ++literal) {
      test::Capture out;
      Messages msg(out.file());
      RunOptions opt = DefaultRunOptions();
      opt.reuse_answers = literal == 0;
      opt.group_lines = literal == 0;
      opt.statements_sent = &statements[literal];
      EXPECT_EQ(RunTool({fn, "TERM12", "cmp.dnl", "1"}, msg, opt), 0);
      msg.Flush();
      texts[literal] = out.Text();
      files[literal] = test::ReadFile("cmp.dnl");
    }
    EXPECT_FALSE(files[0].empty()) << fn;
    EXPECT_EQ(files[0], files[1]) << fn;
    EXPECT_EQ(texts[0], texts[1]) << fn;
    EXPECT_LT(statements[0], statements[1]) << fn;
  }
  fs::current_path(old);
}

// Every table a run reads, missing in turn, for every function on two
// terminals: a function that reads the table ends with 69 and leaves the
// old file exactly as it was; one that does not read it writes the file of
// a run on the whole installation, with 0. Never a wrong file with 0.
TEST_F(Golden, EveryMissingTableEndsTheRunsThatReadIt) {
  const char* const kAll = "VQDNL17P VQDNL31P VQDNL18P VQDNL60P IDSTAMM";
  const char* const kRights = "VQDNL17P VQDNL31P VQDNL60P IDSTAMM";  // class-0 badges
  const struct {
    const char* table;
    const char* readers;  // the functions that read it
  } tables[] = {
      {"ZrSystem.Zrt112Mnd", kAll},        {"ZrSystem.Zrt115Tfz", kAll},
      {"ZrSystem.Zrt301Asw", kAll},        {"ZrSystem.Zrt113Awv", kAll},
      {"ZrSystem.Zrt401Zls", kAll},        {"ZrSystem.Zrt404Zbr", kAll},
      {"ZrSystem.Zrt999Tmp", kAll},        {"ZrSystem.Zrt114Tsm", "VQDNL18P"},
      {"ZrSystem.Zrt113Sto", "VQDNL17P VQDNL31P"},
      {"ZrSystem.O2001SALTEXTE", "VQDNL18P"},
      {"Zrt320Tgb", "VQDNL17P VQDNL18P VQDNL60P"},
      {"M01.Zrt408Bzu", kRights},          {"M01.Zrt311Zuo", kRights},
      {"M01.O1003Kststelle", kRights},     {"M01.G1102AbtLst", kRights},
      {"M01.Zrt310Bsv", kRights},          {"M01.Zrt300Pnr", "IDSTAMM"},
      {"M01.Zrt332Utg", "VQDNL18P"},       {"M01.Zrt332Urv", "VQDNL18P"},
  };
  const std::vector<std::string> functions = {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P",
                                              "IDSTAMM"};
  auto exec = [&](const std::string& sql) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &h), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << err;
    sqlite3_free(err);
    sqlite3_close(h);
  };
  auto run = [&](const std::string& fn, const std::string& terminal, int* status) {
    test::WriteFile(cwd_ + "/out.dnl", "the old download file");
    test::Shell(cwd_, kBin + "/plomvarde " + fn + " " + terminal + " out.dnl 1", status);
    return test::ReadFile(cwd_ + "/out.dnl");
  };
  std::map<std::string, std::string> whole;
  for (const std::string& fn : functions) {
    for (const char* terminal : {"TERM12", "TERM03"}) {
      int status = 0;
      whole[fn + terminal] = run(fn, terminal, &status);
      ASSERT_EQ(status, 0) << fn << " " << terminal;
    }
  }
  for (const auto& t : tables) {
    exec(std::string("ALTER TABLE \"") + t.table + "\" RENAME TO hidden;");
    for (const std::string& fn : functions) {
      bool reads = std::string(t.readers).find(fn) != std::string::npos;
      for (const char* terminal : {"TERM12", "TERM03"}) {
        SCOPED_TRACE(std::string(t.table) + " " + fn + " " + terminal);
        int status = 0;
        std::string file = run(fn, terminal, &status);
        if (reads) {
          EXPECT_EQ(status, kExitUnavailable);
          EXPECT_EQ(file, "the old download file");
        } else {
          EXPECT_EQ(status, kExitOk);
          EXPECT_EQ(file, whole[fn + terminal]);
        }
      }
    }
    exec(std::string("ALTER TABLE hidden RENAME TO \"") + t.table + "\";");
  }
}

}  // namespace
}  // namespace plom
