#include "companions/explain.h"

#include "cli/options.h"

#include <algorithm>
#include <cstdio>

#include "db/codepage.h"
#include "driver/download_file.h"
#include "driver/run.h"
#include "generators/generators.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "installation/connection.h"
#include "installation/statements.h"
#include "layouts/layouts.h"

namespace plom::explain {
namespace {

using Kind = StatementObserver::Kind;

// Statement numbers of the queries the report names.
constexpr int kBadgeCursor = stmt::kBadgeCursor.no;
constexpr int kReaderCursor = stmt::kReaderCursor.no;
constexpr int kCountPermissions = stmt::kCountPermissions.no;
constexpr int kCountTimeBlocks = stmt::kCountTimeBlocks.no;
constexpr int kTerminalType = stmt::kTerminalType.no;
constexpr int kFirstAccessRight = stmt::kSelAwsGrp.no;
constexpr int kLastAccessRight = stmt::kSelAkr.no;
static_assert(kLastAccessRight - kFirstAccessRight == 5, "six access-right queries in a row");
constexpr int kLocationText = stmt::kLocationText.no;
constexpr int kPerson = stmt::kPerson.no;
constexpr int kBalances = stmt::kBalances.no;
constexpr int kLabels = stmt::kLabelCursor.no;
constexpr int kDayRecord = stmt::kDayRecord.no;
constexpr int kYearAccount = stmt::kYearAccount.no;

constexpr size_t kBadgeNumberWidth = 51;

const char* const kAccessRightQueries[] = {
    "CurBZU_SelAwsGrp (badge group)",       "CurBZU_SelKst (cost centre)",
    "CurBZU_SelKstGrp (cost-centre group)", "CurBZU_SelAbt (department)",
    "CurBZU_SelAbtGrp (department group)",  "CurBZU_SelAkr (Akr key)"};

std::string Out(std::string_view s) {
  std::string t = Cp1252ToUtf8(s);
  for (char& ch : t) {
    if (static_cast<unsigned char>(ch) < 0x20) ch = '?';
  }
  return t;
}

std::string Quoted(std::string_view s) { return "'" + Out(s) + "'"; }

std::string ValueText(const Value& v) {
  return v.IsNull() ? std::string("NULL") : v.type == Value::Type::kText ? Quoted(v.s) : v.Text();
}

std::string RowText(const Row& row) {
  std::string t;
  for (const Value& v : row) t += (t.empty() ? "" : ", ") + ValueText(v);
  return t;
}

std::string ParamsText(const Params& params) {
  std::string t;
  for (size_t i = 0; i < params.size(); ++i) {
    const Param& p = params[i];
    t += (i ? ", @p" : "@p") + std::to_string(i + 1) + "=" +
         (p.is_int ? std::to_string(p.num) : Quoted(p.text));
  }
  return t;
}

// ---- recording a pass ----

// Watches the connection; the generator's messages and lines are cut at
// every badge row and go to the row they belong to.
class Recorder : public StatementObserver {
 public:
  Recorder(Explanation* e, const RunOutput& out) : e_(e), out_(out) {}

  void BeginPass(const std::string& schema) {
    e_->passes.push_back(SchemaPass{});
    pass_ = &e_->passes.back();
    pass_->schema = schema;
    pass_->announce = TakeMessages();
    row_ = nullptr;
    stage_ = Stage::kBefore;
  }
  void EndPass() {
    Collect();
    pass_ = nullptr;
    row_ = nullptr;
  }

  void Saw(const Event& ev) override {
    if (ev.kind == Kind::kFetch && ev.stmt_no == kBadgeCursor && pass_ != nullptr) {
      Collect();
      row_ = nullptr;
      stage_ = ev.sqlcode == kSqlOk ? Stage::kRows : Stage::kAfter;
      if (stage_ == Stage::kRows) {
        ++pass_->badges_read;
        if (TrimmedRight(Cut(Column(*ev.row, 0).Text(), kBadgeNumberWidth - 1)) == e_->badge) {
          pass_->rows.push_back(ListedRow{});
          row_ = &pass_->rows.back();
          row_->fetched = *ev.row;
        }
      }
    }
    std::vector<Step>* to = Target();
    if (to == nullptr) return;
    Step s;
    s.kind = ev.kind;
    s.stmt_no = ev.stmt_no;
    s.text = std::string(ev.text);
    if (ev.params != nullptr) s.params = *ev.params;
    s.sqlcode = ev.sqlcode;
    s.has_row = ev.row != nullptr;
    if (ev.row != nullptr) s.row = *ev.row;
    s.rows = ev.rows;
    to->push_back(std::move(s));
  }

 private:
  std::vector<Step>* Target() {
    if (pass_ == nullptr) return &e_->outside;
    if (row_ != nullptr) return &row_->steps;
    switch (stage_) {
      case Stage::kBefore:
        return &pass_->before;
      case Stage::kRows:
        return nullptr;  // another badge's row
      case Stage::kAfter:
        return &pass_->after;
    }
    return nullptr;
  }

  // What was printed and made since the last cut goes to the row it
  // belongs to. Only the badge's rows keep their records; every other line
  // is passed over, as nothing is stored.
  void Collect() {
    std::string text = TakeMessages();
    const auto& lines = out_.lines();
    if (row_ != nullptr) {
      row_->messages += text;
      for (size_t i = lines_taken_; i < lines.size(); ++i) row_->records.push_back(lines[i]);
    }
    lines_taken_ = lines.size();
  }

  std::string TakeMessages() {
    std::string text = out_.text().substr(taken_);
    taken_ = out_.text().size();
    return text;
  }

  Explanation* e_;
  const RunOutput& out_;
  size_t taken_ = 0;
  size_t lines_taken_ = 0;
  SchemaPass* pass_ = nullptr;
  ListedRow* row_ = nullptr;
  enum class Stage { kBefore, kRows, kAfter };
  Stage stage_ = Stage::kBefore;
};

// A record as the run's download file holds it: the line store gives the
// line back without trailing blanks, the write-out fills it to the width.
std::string AsWritten(const std::string& line, int width) {
  return RenderDownload({TrimmedRight(line)}, width);
}

// ---- the report ----

// The first parameter of a statement, quoted ("?" when it had none).
std::string FirstParam(const Step& s) {
  return s.params.empty() ? std::string("?") : Quoted(s.params[0].text);
}

std::string DateOrNone(const std::string& d) { return d.empty() ? "-" : d; }

std::string FactLine(const BadgeRowFacts& f) {
  return "valid " + DateOrNone(f.valid_from) + " to " + DateOrNone(f.valid_to) + ", class " +
         Quoted(f.access_class) + ", client schema " +
         (f.client_found ? Quoted(f.schema) : std::string("(no client row)"));
}

// Why the badge cursor of the schema does not list the row.
std::string WhyNotListed(const BadgeRowFacts& f, const std::string& schema) {
  if (!f.client_found) return "its client keys match no client in ZrSystem.Zrt112Mnd";
  if (f.schema != schema) {
    return std::string("it belongs to another client (schema ") + Quoted(f.schema) +
           (f.client_excluded ? ", a client that runs leave out" : "") + ")";
  }
  if (!f.current) return "its validity window does not hold the present moment";
  if (f.locations == 0) return "it has no location assignment in ZrSystem.Zrt113Awv";
  return "listed";
}

void RenderListing(const Explanation& e, const SchemaPass& p, std::string* out) {
  if (!p.rows.empty()) {
    *out += "  The badge cursor ASW_VQDNL_C lists the badge " + std::to_string(p.rows.size()) +
            (p.rows.size() == 1 ? " time" : " times") + " (of " + std::to_string(p.badges_read) +
            " badge rows of the schema).\n";
  } else {
    *out += "  The badge cursor ASW_VQDNL_C does not list the badge";
  }
  if (e.facts_sqlcode == kSqlNotFound) {
    *out += p.rows.empty() ? ": there is no such badge in ZrSystem.Zrt301Asw.\n" : "";
    return;
  }
  if (e.facts_sqlcode != kSqlOk) {
    *out +=
        "  (the badge's rows could not be read: sqlcode " + std::to_string(e.facts_sqlcode) + ")\n";
    return;
  }
  *out += p.rows.empty() ? ". Its rows in ZrSystem.Zrt301Asw:\n"
                         : "  Its rows in ZrSystem.Zrt301Asw:\n";
  for (const BadgeRowFacts& f : e.facts) {
    std::string why = WhyNotListed(f, p.schema);
    *out += "    " + FactLine(f) + (why == "listed" ? ": listed\n" : ": not listed, " + why + "\n");
  }
}

void RenderFetched(const Row& r, size_t n, std::string* out) {
  auto col = [&](size_t i) { return Quoted(TrimmedRight(Column(r, i).Text())); };
  *out += "\n  Row " + std::to_string(n) + ": badge " + col(0) + ", valid from " + col(1) + " to " +
          col(2) + ", personnel number " + col(3) + ", access class " + col(4) + ", badge group " +
          col(5) + ", AswAtp " + Column(r, 7).Text() + ", location " + col(8) + "\n";
}

// The access-class resolution: each query asked, in order, and its answer.
void RenderResolution(const ListedRow& row, std::string* out) {
  *out += "    Access class:\n";
  std::string own = TrimmedRight(Column(row.fetched, 4).Text());
  int asked = 0;
  for (const Step& s : row.steps) {
    if (s.stmt_no < kFirstAccessRight || s.stmt_no > kLastAccessRight) continue;
    if (s.kind == Kind::kOpen) {
      *out += "      " + std::to_string(++asked) + ". " +
              kAccessRightQueries[s.stmt_no - kFirstAccessRight] + ", key " +
              (s.params.empty() ? std::string("-") : Quoted(s.params[0].text));
      if (s.sqlcode != kSqlOk) *out += ": open failed, sqlcode " + std::to_string(s.sqlcode) + "\n";
    } else if (s.kind == Kind::kFetch) {
      if (s.sqlcode == kSqlOk) {
        size_t n = s.row.size();
        *out += ": sqlcode 0, class " + Quoted(TrimmedRight(Column(s.row, n - 1).Text())) +
                ", valid " + DateOrNone(TrimmedRight(Column(s.row, n - 3).Text())) + " to " +
                DateOrNone(TrimmedRight(Column(s.row, n - 2).Text())) + "  <- taken\n";
      } else {
        *out += ": sqlcode " + std::to_string(s.sqlcode) +
                (s.sqlcode == kSqlNotFound ? ", no right\n" : ", failed\n");
      }
    }
  }
  if (asked == 0) {
    *out += "      own class " + Quoted(own) + ", no access-right query asked\n";
  } else {
    bool taken = false;
    for (const Step& s : row.steps) {
      taken |= s.kind == Kind::kFetch && s.stmt_no >= kFirstAccessRight &&
               s.stmt_no <= kLastAccessRight && s.sqlcode == kSqlOk;
    }
    if (!taken) *out += "      no query found a right: the class stays unresolved\n";
  }
}

// The admission checks: each walk over the terminal's readers with the
// counts asked on the way.
void RenderAdmission(const ListedRow& row, std::string* out) {
  *out += "    Admission:\n";
  bool any = false;
  bool time_check = false;
  long hits = 0;
  for (const Step& s : row.steps) {
    if (s.stmt_no == kReaderCursor && s.kind == Kind::kOpen) {
      any = true;
      int highest = s.params.size() > 1 ? static_cast<int>(s.params[1].num) : 0;
      time_check = highest == 1;
      hits = 0;
      *out += std::string("      ") +
              (time_check ? "time-recording check, reader 1"
                          : "access check, readers 1 to " + std::to_string(highest)) +
              " of terminal " + FirstParam(s) + ":\n";
      if (s.sqlcode != kSqlOk)
        *out += "        open failed, sqlcode " + std::to_string(s.sqlcode) + "\n";
    } else if (s.stmt_no == kReaderCursor && s.kind == Kind::kFetch && s.sqlcode == kSqlOk) {
      char num[8];
      std::snprintf(num, sizeof num, "%02d", Column(s.row, 0).Int());
      *out += std::string("        reader ") + num + ", code " +
              Quoted(TrimmedRight(Column(s.row, 1).Text())) + "\n";
    } else if (s.stmt_no == kReaderCursor && s.kind == Kind::kFetch && s.sqlcode != kSqlNotFound) {
      *out += "        fetch failed, sqlcode " + std::to_string(s.sqlcode) + "\n";
    } else if ((s.stmt_no == kCountPermissions || s.stmt_no == kCountTimeBlocks) &&
               s.kind == Kind::kExecute) {
      std::string what = s.stmt_no == kCountPermissions ? "permission rows" : "type-3 rows";
      std::string cls = s.params.empty() ? "" : s.params[0].text;
      if (s.sqlcode == kSqlOk) {
        long n = Column(s.row, 0).Int();
        hits += n;
        *out += "          " + what + " of class " + Quoted(cls) + ": " + std::to_string(n) + "\n";
      } else {
        *out += "          " + what + " of class " + Quoted(cls) + ": sqlcode " +
                std::to_string(s.sqlcode) + " (counts as none)\n";
      }
    } else if (s.stmt_no == kReaderCursor && s.kind == Kind::kClose) {
      if (time_check) {
        *out += hits > 0 ? "        -> time recording blocked\n"
                         : "        -> time recording granted\n";
      } else {
        *out += hits > 0 ? "        -> access permitted\n" : "        -> no access\n";
      }
    }
  }
  if (!any) *out += "      no reader of the terminal was asked\n";
}

std::string Minutes(const Row& r) {
  std::string t;
  for (size_t i = 0; i < r.size(); ++i) t += (i ? " " : "") + Column(r, i).Text();
  return t;
}

// A lookup the report shows: its statement, the step that carries its
// outcome, what it asked and what a row it found gave.
struct Lookup {
  int stmt_no;
  Kind kind;
  std::string (*asked)(const Step&);
  std::string (*found)(const Row&);
};

const Lookup kLookups[] = {
    {kBalances, Kind::kExecute,
     [](const Step& s) {
       return "balances of the previous day (Zrt320Tgb), person " + FirstParam(s);
     },
     [](const Row& r) {
       return ", minutes " + Minutes(r) + ", balance text 1 " +
              Quoted(BalanceText(Column(r, 0).Int()));
     }},
    {kLocationText, Kind::kExecute,
     [](const Step& s) { return "location short text (Zrt113Sto) of badge " + FirstParam(s); },
     [](const Row& r) { return ", StoKtx " + ValueText(Column(r, 0)); }},
    {kPerson, Kind::kFetch, [](const Step&) { return std::string("person data (Zrt300Pnr)"); },
     [](const Row& r) {
       return ", PnrSpr " + ValueText(Column(r, 0)) + ", PnrSal " + ValueText(Column(r, 1));
     }},
    {kYearAccount, Kind::kFetch,
     [](const Step&) { return std::string("vacation account of the year (Zrt332Urv)"); },
     [](const Row& r) {
       return ", URVGUR " + ValueText(Column(r, 0)) + ", URVVJR " + ValueText(Column(r, 1));
     }},
    {kDayRecord, Kind::kFetch,
     [](const Step&) { return std::string("latest vacation day record (Zrt332Utg)"); },
     [](const Row& r) {
       return ", UtgDtm " + ValueText(Column(r, 0)) + ", UtgVtg " + ValueText(Column(r, 1)) +
              ", UtgRtg " + ValueText(Column(r, 2)) + ", UtgGut " + ValueText(Column(r, 3));
     }},
    {kTerminalType, Kind::kExecute,
     [](const Step&) { return std::string("terminal type (Zrt114Tsm)"); },
     [](const Row& r) { return ", TSMTYP " + ValueText(Column(r, 0)); }},
    {kLabels, Kind::kFetch, [](const Step&) { return std::string("label (O2001SALTEXTE)"); },
     [](const Row& r) { return ", " + ValueText(Column(r, 0)) + " " + ValueText(Column(r, 1)); }},
};

// Each lookup: what was asked, its sqlcode and the value it gave.
void RenderLookup(const Step& s, std::string* out) {
  for (const Lookup& l : kLookups) {
    if (l.stmt_no != s.stmt_no || l.kind != s.kind) continue;
    *out += "      " + l.asked(s) + ": sqlcode " + std::to_string(s.sqlcode);
    if (s.sqlcode == kSqlOk) *out += l.found(s.row);
    *out += "\n";
    return;
  }
}

// The lookups among the steps; with always, a head even when there are none.
void RenderLookups(const std::vector<Step>& steps, const char* head, bool always,
                   std::string* out) {
  std::string lines;
  for (const Step& s : steps) RenderLookup(s, &lines);
  if (lines.empty() && !always) return;
  *out += head;
  *out += lines.empty() ? "      none\n" : lines;
}

// Two lines of column numbers over a fixed record.
std::string Ruler(size_t width) {
  std::string tens = "      ", units = "      ";
  for (size_t i = 1; i <= width; ++i) {
    tens += i % 10 == 0 ? static_cast<char>('0' + (i / 10) % 10) : ' ';
    units += static_cast<char>('0' + i % 10);
  }
  return tens + "\n" + units + "\n";
}

void RenderRecord(const layouts::Layout& layout, const std::string& written, std::string* out) {
  std::string raw = written;
  while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
  layouts::Record rec = layouts::DecodeRecord(layout, raw, 1);
  if (layout.quoted()) {
    *out += "      " + Out(raw) + "   (and CR LF)\n";
  } else {
    *out += Ruler(layout.width) + "     |" + Out(raw) + "|\n";
  }
  size_t name_room = 0;
  for (const layouts::Field& f : rec.fields)
    name_room = std::max(name_room, f.def->name.size() + 2);
  for (const layouts::Field& f : rec.fields) {
    std::string where;
    if (!layout.quoted()) {
      where = f.def->width == 1 ? std::to_string(f.def->column)
                                : std::to_string(f.def->column) + "-" +
                                      std::to_string(f.def->column + f.def->width - 1);
    }
    while (where.size() < 8) where += ' ';
    std::string name = f.def->name;
    while (name.size() < name_room) name += ' ';
    *out += "      " + where + name + Quoted(f.value) + "\n";
  }
  std::string readers;
  for (const layouts::Field& f : rec.fields) {
    if (f.def->kind == layouts::FieldKind::kReader &&
        f.value.find_first_not_of(' ') != std::string::npos) {
      readers += (readers.empty() ? "" : ", ") + f.value;
    }
  }
  if (!readers.empty()) *out += "      reader numbers in the entries: " + readers + "\n";
  for (const std::string& p : rec.problems)
    *out += "      does not fit its layout: " + Out(p) + "\n";
}

void RenderMessages(const std::string& messages, const char* head, std::string* out) {
  if (messages.empty()) return;
  *out += head;
  std::string text = Cp1252ToUtf8(messages);
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    *out += "      " + line + "\n";
    at = nl == std::string::npos ? text.size() : nl + 1;
  }
}

std::string KindName(Kind k) {
  switch (k) {
    case Kind::kExecute:
      return "EXECUTE";
    case Kind::kTransaction:
      return "TRANSACTION";
    case Kind::kOpen:
      return "OPEN";
    case Kind::kFetch:
      return "FETCH";
    case Kind::kClose:
      return "CLOSE";
  }
  return "?";
}

void RenderTrace(const std::vector<Step>& steps, const char* head, std::string* out) {
  if (steps.empty()) return;
  *out += head;
  for (const Step& s : steps) {
    *out += "      #" + std::to_string(s.stmt_no) + " " + KindName(s.kind) + " sqlcode " +
            std::to_string(s.sqlcode);
    if (s.kind == Kind::kOpen) *out += ", " + std::to_string(s.rows) + " rows";
    if (s.has_row) *out += ": " + RowText(s.row);
    *out += "\n";
    if (!s.text.empty()) *out += "        " + Out(s.text) + "\n";
    if (!s.params.empty()) *out += "        " + ParamsText(s.params) + "\n";
  }
}

void RenderRow(const Explanation& e, const layouts::Layout& layout, const ListedRow& row, size_t n,
               bool trace, std::string* out) {
  RenderFetched(row.fetched, n, out);
  RenderResolution(row, out);
  RenderAdmission(row, out);
  RenderLookups(row.steps, "    Lookups:\n", true, out);
  if (row.records.empty()) {
    *out += "    Record: none is written for this row.\n";
  }
  for (const std::string& r : row.records) {
    *out += "    Record (" + layout.function +
            (layout.quoted() ? "" : ", " + std::to_string(layout.width) + " characters") +
            "), as the download file holds it:\n";
    RenderRecord(layout, r, out);
  }
  RenderMessages(row.messages, "    The run prints:\n", out);
  if (trace) RenderTrace(row.steps, "    Statements:\n", out);
}

// ---- command line ----

const char kUsage[] =
    "Usage: plomvarde-explain [--trace] FUNCTION TERMINAL BADGE\n"
    "       plomvarde-explain --help | --version\n"
    "Shows step by step what plomvarde FUNCTION TERMINAL does with the badge:\n"
    "the client schemas, the badge cursor, the access class, the admission\n"
    "checks, the lookups and the record or the message. Stores nothing. Run it\n"
    "where plomvarde runs (same configuration file). --trace adds every\n"
    "statement with its parameters and sqlcode. Exit status: 0 explained,\n"
    "64 a wrong command line, 69 the database failed.\n";

struct Options {
  bool trace = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> positional;
};

bool Parse(const std::vector<std::string>& args, Options* o, std::string* err) {
  static const std::vector<cli::OptionDef> kOptionDefs = {{"trace", 0, false}};
  cli::CommandLine cl;
  if (!cli::Parse(args, kOptionDefs, &cl)) {
    *err += "plomvarde-explain: " + Cp1252ToUtf8(cl.error) + "\n";
    return false;
  }
  o->help = cl.help;
  o->version = cl.version;
  if (o->help || o->version) return true;
  o->trace = cl.Has("trace");
  o->positional = cl.operands;
  if (o->positional.size() != 3) {
    *err += "plomvarde-explain: FUNCTION, TERMINAL and BADGE are needed\n";
    return false;
  }
  return true;
}

std::string Capitals(std::string s) {
  for (char& ch : s) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return s;
}

}  // namespace

Explanation ExplainBadge(Connection& c, const std::string& function, const std::string& terminal,
                         const std::string& badge) {
  Explanation e;
  e.function = function;
  e.terminal = terminal;
  e.badge = badge;
  const DownloadFunction* fn = FindDownloadFunction(function);
  e.facts_sqlcode = ListBadgeRows(c, badge, &e.facts);
  if (e.facts_sqlcode < 0) {
    e.first_error = e.facts_sqlcode;
    e.first_error_text = c.last_error();
  }
  if (fn == nullptr) return e;

  // Every check and query runs for the badge itself: no answer kept from
  // another badge hides a statement.
  RunContext ctx(c, /*reuse_answers=*/false);
  Recorder rec(&e, ctx.out);
  c.SetObserver(&rec);
  const std::string path = "plomvarde-explain";
  std::string cursor;
  int rc = VisitRunSchemas(
      c, ctx.out, terminal,
      [&](const std::string& schema) {
        if (ctx.failed()) return;
        rec.BeginPass(schema);
        ctx.scope = RunScope{path, terminal, schema};
        fn->generate(ctx);
        rec.EndPass();
      },
      &cursor, &e.unknown_terminal);
  c.SetObserver(nullptr);
  if (rc < 0) ctx.Fail(rc, cursor, c.last_error());
  // The run's own judgement: only a database that failed to answer makes
  // the explanation incomplete, never one badge's bad value.
  if (ctx.failed() && e.first_error == 0) {
    e.first_error = ctx.failure.sqlcode;
    e.first_error_text = ctx.failure.what + ": " + ctx.failure.reason;
  }

  for (SchemaPass& p : e.passes) {
    for (ListedRow& r : p.rows) {
      for (std::string& line : r.records) line = AsWritten(line, fn->width);
    }
  }
  return e;
}

std::string Render(const Explanation& e, bool trace) {
  const layouts::Layout* layout = layouts::FindLayout(e.function);
  std::string out = "Badge " + Quoted(e.badge) + ", download function " + e.function +
                    ", terminal " + Quoted(e.terminal) + "\n";
  if (e.unknown_terminal) {
    out += "\nThe installation does not know terminal " + Quoted(e.terminal) +
           ": it has no reader and no client. The run warns and writes the file all the same,\n"
           "for every client schema.\n";
  }
  if (e.passes.empty()) out += "\nNo client schema to visit: the run writes no record.\n";
  size_t records = 0;
  for (const SchemaPass& p : e.passes) {
    out += "\nClient schema " + Quoted(p.schema) + "\n";
    RenderListing(e, p, &out);
    RenderLookups(p.before, "  Read once for the pass:\n", false, &out);
    if (trace) RenderTrace(p.before, "  Statements of the pass before the badges:\n", &out);
    size_t n = 0;
    for (const ListedRow& r : p.rows) {
      RenderRow(e, *layout, r, ++n, trace, &out);
      records += r.records.size();
    }
    if (trace) RenderTrace(p.after, "  Statements of the pass after the badges:\n", &out);
  }
  if (trace) RenderTrace(e.outside, "\nStatements outside the passes:\n", &out);
  if (e.first_error != 0) {
    out += "\nThe database failed: sqlcode " + std::to_string(e.first_error) + " (" +
           Out(e.first_error_text) + "). What is shown above may be incomplete.\n";
  }
  out += "\nIn all: " + std::to_string(records) + (records == 1 ? " record" : " records") +
         " for the badge in the download file.\n";
  return out;
}

int RunExplain(const std::vector<std::string>& args, const std::string& config_path,
               std::string* out, std::string* err) {
  Options o;
  if (!Parse(args, &o, err)) {
    *err += kUsage;
    return kExplainUsage;
  }
  if (o.help) {
    *out += kUsage;
    return kExplainOk;
  }
  if (o.version) {
    *out += cli::VersionLine("plomvarde-explain");
    return kExplainOk;
  }
  std::string function = Capitals(o.positional[0]);
  if (FindDownloadFunction(function) == nullptr) {
    *err += "plomvarde-explain: unknown download function " + Cp1252ToUtf8(o.positional[0]) + "\n" +
            kUsage;
    return kExplainUsage;
  }
  const std::string& terminal = o.positional[1];
  const std::string& badge = o.positional[2];
  if (terminal.size() > kMaxTerminalLen || badge.empty() || badge.size() > kBadgeNumberWidth - 1) {
    *err += "plomvarde-explain: terminal name up to 10, badge number 1 to 50 characters\n";
    return kExplainUsage;
  }

  FILE* printed = std::tmpfile();
  if (printed == nullptr) {
    *err += "plomvarde-explain: no temporary file\n";
    return kExplainUnavailable;
  }
  Connection conn;
  {
    Messages msg(printed);
    // Read only: a user who may only read the database may explain.
    int rc = ConnectAsRun(&conn, msg, config_path, /*read_only=*/true);
    msg.Flush();
    if (rc != 0) {
      std::string text;
      std::rewind(printed);
      char buf[4096];
      for (size_t n; (n = std::fread(buf, 1, sizeof buf, printed)) > 0;) text.append(buf, n);
      *err += "plomvarde-explain: the run could not connect:\n" + Cp1252ToUtf8(text);
      std::fclose(printed);
      return kExplainUnavailable;
    }
  }
  std::fclose(printed);
  Explanation e = ExplainBadge(conn, function, terminal, badge);
  *out += Render(e, o.trace);
  return e.first_error != 0 ? kExplainUnavailable : kExplainOk;
}

}  // namespace plom::explain
