// Embedded databases laid out for generator cases, and a runner that calls
// one generator pass and reads back what it stored and printed.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "installation/connection.h"
#include "installation/line_store.h"
#include "generators/generators.h"
#include "tests/test_util.h"

namespace plom::test {

constexpr char kGenPath[] = "/dnl/TERM1.dnl";
constexpr char kTerminal[] = "TERM1";
constexpr char kJan2006[] = "2006-01-01 00:00:00";

// SQL literal of a text, NULL when absent.
inline std::string Lit(const std::optional<std::string>& s) { return s ? Lit(*s) : "NULL"; }

// One badge row with its location assignment (one per badge number):
// BadgeRow("471").Pnr("815").Location("12").
struct BadgeRow {
  using Text = std::optional<std::string>;
  explicit BadgeRow(std::string number) : num(std::move(number)) {}
  // clang-format off
  BadgeRow& From(Text v) { gvo = std::move(v); return *this; }
  BadgeRow& To(Text v) { gbi = std::move(v); return *this; }
  BadgeRow& Pnr(std::string v) { pnr = std::move(v); return *this; }
  BadgeRow& Class(std::string v) { bkl = std::move(v); return *this; }
  BadgeRow& Group(std::string v) { grp = std::move(v); return *this; }
  BadgeRow& Atp(int v) { atp = v; return *this; }
  BadgeRow& Location(Text v) { sto = std::move(v); return *this; }
  BadgeRow& Client(int v) { mnd = v; return *this; }
  // clang-format on

  std::string num;
  Text gvo = kJan2006;
  Text gbi;
  std::string pnr;
  std::string bkl = "5";
  std::string grp;
  int atp = 0;
  Text sto;     // location number; NULL: none
  int mnd = 1;  // client number (licence 1)
};

// What one generator pass left behind.
struct GenResult {
  std::vector<std::string> lines;  // stored lines in the order stored, untrimmed
  std::string out;                 // messages
  int lines_lost = 0;
  bool failed = false;  // the database failed
};

class GenDb {
 public:
  GenDb() { AddClient(1, "MND1"); }

  void Exec(const std::string& sql) { db_.Exec(sql); }
  TestDb& db() { return db_; }
  // The bound on the answers read for a whole schema (0: every badge asks
  // its own statements, as over the bound).
  size_t answer_memory = 32u << 20;

  void AddClient(int num, const std::string& schema) {
    Exec("INSERT INTO \"ZrSystem.Zrt112Mnd\" (MndLiz, MndNum, MndSch) VALUES (1, " +
         std::to_string(num) + ", " + Lit(schema) + ");");
    db_.AddClientTables(schema);
  }
  void AssignTerminal(const std::string& terminal, int mnd) {
    Exec("INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES (" + Lit(terminal) + ", 1, " +
         std::to_string(mnd) + ");");
  }
  void AddBadge(const BadgeRow& b) {
    Exec(
        "INSERT INTO \"ZrSystem.Zrt301Asw\" (AswNum, AswGvo, AswGbi, AswPnr, AswBkl, AswGrp, "
        "AswAan, AswAtp, AswLiz, AswMnd) VALUES (" +
        Lit(b.num) + ", " + Lit(b.gvo) + ", " + Lit(b.gbi) + ", " + Lit(b.pnr) + ", " + Lit(b.bkl) +
        ", " + Lit(b.grp) + ", 'aan', " + std::to_string(b.atp) + ", 1, " + std::to_string(b.mnd) +
        ");");
    // A badge number's second row shares the first row's location assignment.
    Exec("INSERT INTO \"ZrSystem.Zrt113Awv\" SELECT " + Lit(b.num) + ", " + Lit(b.sto) +
         " WHERE NOT EXISTS (SELECT 1 FROM \"ZrSystem.Zrt113Awv\" WHERE AwvNum = " + Lit(b.num) +
         ");");
  }
  void AddReader(int number, const std::string& code, const std::string& terminal = kTerminal) {
    Exec("INSERT INTO \"ZrSystem.Zrt401Zls\" VALUES (" + Lit(terminal) + ", " +
         std::to_string(number) + ", " + Lit(code) + ");");
  }
  // A permission of the class on the reader code; type 3 blocks time recording.
  void Permit(const std::string& cls, const std::string& code, int type = 0) {
    Exec("INSERT INTO \"ZrSystem.Zrt404Zbr\" VALUES (" + Lit(cls) + ", " + Lit(code) + ", " +
         std::to_string(type) + ");");
  }
  void AddLocation(const std::string& number, const std::string& short_text) {
    Exec("INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES (" + Lit(number) + ", " + Lit(short_text) +
         ");");
  }
  void SetTerminalType(const std::string& type, const std::string& terminal = kTerminal) {
    Exec("INSERT INTO \"ZrSystem.Zrt114Tsm\" VALUES (" + Lit(terminal) + ", " + Lit(type) + ");");
  }
  // Labels 301, 302, ... in order.
  void AddLabels(const std::vector<std::string>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) {
      Exec("INSERT INTO \"ZrSystem.O2001SALTEXTE\" VALUES (" + std::to_string(301 + i) + ", " +
           Lit(texts[i]) + ");");
    }
  }
  // The balance row of the previous day: TgbVt1 + TgbSa1 minutes.
  void AddBalance(const std::string& pnr, int vt1, int sa1 = 0) {
    Exec("INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1) VALUES (" + Lit(pnr) +
         ", 1, " + Lit(DateTime(-1)) + ", " + std::to_string(vt1) + ", " + std::to_string(sa1) +
         ");");
  }
  void AddPerson(const std::string& pnr, int spr, const std::string& sal,
                 const std::string& schema = "MND1") {
    Exec("INSERT INTO \"" + schema + ".Zrt300Pnr\" VALUES (" + Lit(pnr) + ", " +
         std::to_string(spr) + ", " + Lit(sal) + ");");
  }
  // This year's vacation account and a day record of yesterday.
  void AddVacation(const std::string& pnr, double gur, double vjr, double vtg, double rtg,
                   double gut, const std::string& schema = "MND1") {
    Exec("INSERT INTO \"" + schema + ".Zrt332Urv\" VALUES (" + Lit(pnr) + ", " +
         DateTime(0).substr(0, 4) + ", " + std::to_string(gur) + ", " + std::to_string(vjr) + ");");
    Exec("INSERT INTO \"" + schema + ".Zrt332Utg\" VALUES (" + Lit(pnr) + ", " + Lit(DateTime(-1)) +
         ", " + std::to_string(vtg) + ", " + std::to_string(rtg) + ", " + std::to_string(gut) +
         ");");
  }
  // An access right of a badge group, current since from.
  void AddGroupRight(const std::string& group, const std::string& cls,
                     const std::optional<std::string>& from,
                     const std::optional<std::string>& to = std::nullopt,
                     const std::string& schema = "MND1") {
    Exec("INSERT INTO \"" + schema + ".Zrt408Bzu\" (BzuZau, BzuBkl, BzuGvo, BzuGbi) VALUES (" +
         Lit(group) + ", " + Lit(cls) + ", " + Lit(from) + ", " + Lit(to) + ");");
  }
  // Makes the line store refuse lines that start with the prefix.
  void RefuseLinesStartingWith(const std::string& prefix) {
    Exec("CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr LIKE " +
         Lit(prefix + "%") + " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  }

  // Lines stored under the path, in the order stored, with trailing blanks.
  std::vector<std::string> StoredLines(const std::string& path = kGenPath) {
    std::vector<std::string> lines;
    sqlite3* h = nullptr;
    EXPECT_EQ(sqlite3_open(db_.path().c_str(), &h), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(h,
                                 "SELECT TmpStr FROM \"ZrSystem.Zrt999Tmp\" WHERE TmpUsr = ? "
                                 "ORDER BY rowid",
                                 -1, &st, nullptr),
              SQLITE_OK);
    sqlite3_bind_text(st, 1, path.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
      lines.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                         static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return lines;
  }

  // One generator pass for the schema, its lines stored and its messages
  // said as the run driver does.
  GenResult Run(GeneratorFn generate, const std::string& schema = "MND1",
                const std::string& path = kGenPath, bool reuse_answers = true,
                const std::string& terminal = kTerminal) {
    std::unique_ptr<Connection> conn = db_.Connect();
    RunContext ctx(*conn, reuse_answers);
    // As a run: the schema's answers read at once where answers are reused.
    BulkAnswers bulk(answer_memory);
    if (reuse_answers) ctx.bulk = &bulk;
    ctx.scope = RunScope{path, terminal, schema};
    generate(ctx);
    StoreReport stored = StoreLines(*conn, path, ctx.out.lines(), StoreMode::kGroups);
    GenResult r;
    Messages msg(&r.out);
    ctx.out.Render(msg, path, stored.refused);
    r.lines = StoredLines(path);
    r.lines_lost = static_cast<int>(stored.refused.size());
    r.failed = ctx.failed() || stored.failure.failed();
    return r;
  }

 private:
  TestDb db_;
};

inline std::string Blanks(size_t n) { return std::string(n, ' '); }

// The text left-aligned in a field of n blanks.
inline std::string Field(const std::string& text, size_t n) {
  std::string f = text.substr(0, n);
  return f + Blanks(n - f.size());
}

inline std::string Counts(int badges, int stored) {
  return "Ausweise gesamt: " + std::to_string(badges) +
         " davon in Datei gestellt: " + std::to_string(stored) + "\n";
}

}  // namespace plom::test
