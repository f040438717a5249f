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

}  // namespace
}  // namespace plom
