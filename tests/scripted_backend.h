// A backend for tests, driven by a script: every statement runs on a real
// backend underneath, except where a rule of the script says otherwise
// (this statement fails with that sqlcode, that one reports another row
// count, from here on the connection is lost).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/runtime.h"

namespace plom::test {

struct ScriptRule {
  enum class Action {
    kFail,          // the statement is not run; it fails with sqlcode
    kFailAfterRun,  // the statement runs, but the answer is lost: it fails with sqlcode
    kChanges,       // the statement runs and reports `changes` changed rows
    kDrop,          // the statement is not run, yet it reports success (one row
                    // changed): what a driver that loses a row silently does
  };
  // The statements the rule is about: those whose text contains this (every
  // statement when empty), counted from 1 in the order they are sent.
  std::string text;
  int first = 1;  // the rule applies from the first-th of them ...
  int count = 1;  // ... to count of them (0: to every later one too)
  Action action = Action::kFail;
  int sqlcode = -1;
  Outcome outcome = Outcome::kFailed;  // what a failure means
  int64_t changes = 0;

  static ScriptRule Fail(std::string text, int first = 1, int count = 1, int sqlcode = -1) {
    ScriptRule r;
    r.text = std::move(text);
    r.first = first;
    r.count = count;
    r.sqlcode = sqlcode;
    return r;
  }
  // The statement is refused by the table (a constraint).
  static ScriptRule Refuse(std::string text, int first = 1, int count = 1, int sqlcode = -2627) {
    ScriptRule r = Fail(std::move(text), first, count, sqlcode);
    r.outcome = Outcome::kRowRefused;
    return r;
  }
  static ScriptRule BadValue(std::string text, int first = 1, int count = 1, int sqlcode = -8115) {
    ScriptRule r = Fail(std::move(text), first, count, sqlcode);
    r.outcome = Outcome::kBadValue;
    return r;
  }
  static ScriptRule Drop(std::string text, int first = 1, int count = 1) {
    ScriptRule r = Fail(std::move(text), first, count, 0);
    r.action = Action::kDrop;
    return r;
  }
  static ScriptRule FailAfterRun(std::string text, int first = 1, int count = 1, int sqlcode = -1) {
    ScriptRule r = Fail(std::move(text), first, count, sqlcode);
    r.action = Action::kFailAfterRun;
    return r;
  }
};

// What the scripted backend saw, kept beyond the backend's life.
struct ScriptLog {
  std::vector<std::string> sent;  // every statement text, in order
  int failed = 0;                 // statements the script made fail
  // How many statements sent contain the text.
  int Count(const std::string& text) const;
};

class ScriptedBackend : public Backend {
 public:
  ScriptedBackend(std::unique_ptr<Backend> real, std::vector<ScriptRule> rules,
                  std::shared_ptr<ScriptLog> log);
  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override;
  bool OneWriterAtATime() const override { return real_->OneWriterAtATime(); }
  void ShareReads(bool on) override { real_->ShareReads(on); }
  // Says it sends rows together, as a driver with parameter arrays does (the
  // rows still go one by one underneath, each through the script).
  void SetSendsRowsTogether(bool on) { together_ = on; }
  bool SendsRowsTogether() const override { return together_; }

 private:
  bool together_ = false;
  std::unique_ptr<Backend> real_;
  std::vector<ScriptRule> rules_;
  std::vector<int> seen_;  // per rule: matching statements so far
  std::shared_ptr<ScriptLog> log_;
};

}  // namespace plom::test
