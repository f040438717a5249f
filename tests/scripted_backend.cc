#include "tests/scripted_backend.h"

namespace plom::test {

int ScriptLog::Count(const std::string& text) const {
  int n = 0;
  for (const std::string& s : sent) {
    if (s.find(text) != std::string::npos) ++n;
  }
  return n;
}

ScriptedBackend::ScriptedBackend(std::unique_ptr<Backend> real, std::vector<ScriptRule> rules,
                                 std::shared_ptr<ScriptLog> log)
    : real_(std::move(real)),
      rules_(std::move(rules)),
      seen_(rules_.size(), 0),
      log_(std::move(log)) {}

Result ScriptedBackend::Run(int stmt_no, std::string_view text, const Params& params,
                            size_t max_rows) {
  log_->sent.emplace_back(text);
  const ScriptRule* rule = nullptr;
  for (size_t i = 0; i < rules_.size(); ++i) {
    const ScriptRule& r = rules_[i];
    if (text.find(r.text) == std::string_view::npos) continue;
    int n = ++seen_[i];
    bool applies = n >= r.first && (r.count == 0 || n < r.first + r.count);
    if (applies && rule == nullptr) rule = &r;
  }
  if (rule == nullptr) return real_->Run(stmt_no, text, params, max_rows);
  Result res;
  if (rule->action == ScriptRule::Action::kDrop) {
    ++log_->failed;
    res.changes = 1;
    return res;
  }
  if (rule->action != ScriptRule::Action::kFail) res = real_->Run(stmt_no, text, params, max_rows);
  if (rule->action == ScriptRule::Action::kChanges) {
    res.changes = rule->changes;
    return res;
  }
  ++log_->failed;
  Result failed;
  failed.sqlcode = rule->sqlcode;
  failed.error = "scripted failure " + std::to_string(rule->sqlcode);
  failed.failure = rule->outcome;
  return failed;
}

}  // namespace plom::test
