// Reading download files back (record layouts) and plomvarde-show.
#include "companions/show.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "layouts/layouts.h"

namespace plom {
namespace {

namespace fs = std::filesystem;
using layouts::DecodedFile;
using layouts::DecodeFile;
using layouts::DecodeRecord;
using layouts::FindLayout;
using layouts::Framing;
using layouts::RecogniseLayout;
using layouts::Record;

std::string Pad(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }

// A VQDNL60P record: badge, valid from, flags, balance, three reader groups.
std::string Rec60(const std::string& badge, const std::string& from = "20240101",
                  const std::string& flags = "11", const std::string& balance = "  1,15-",
                  const std::string& groups = "01ABC02ABC03ABC") {
  return Pad(badge, 13) + from + flags + balance + Pad(groups, 15);
}

// A VQDNL17P record: like VQDNL60P, with eleven reader entries.
std::string Rec17(const std::string& badge, const std::string& entries,
                  const std::string& flags = "11") {
  return Pad(badge, 13) + "20240101" + flags + "100,00 " + Pad(entries, 55);
}

std::string Rec31(const std::string& badge, const std::string& from = "20240101",
                  const std::string& to = "20241231", const std::string& flags = "11") {
  return Pad(badge, 13) + from + to + flags + "XXXX,XX-" + "001" + "5  " + "ST1";
}

// A VQDNL18P record with all eight groups.
std::string Rec18(const std::string& badge, const std::string& date = "10.12.26") {
  std::string r = Pad(badge, 13) + Pad("Datum", 12) + date;
  const char* values[] = {"  1,15-", "       ", "  1,50 ", " 28,00 ",
                          "  0,00 ", "  3,00 ", " 10,00 "};
  for (int n = 2; n <= 8; ++n) r += Pad("Label" + std::to_string(n), 13) + values[n - 2];
  return r;
}

std::string Idstamm(const std::vector<std::string>& fields) {
  std::string line;
  for (const auto& f : fields) line += (line.empty() ? "\"" : ",\"") + f + "\"";
  return line + "\r\n";
}

std::vector<std::string> IdFields(const std::string& badge = "471") {
  return {badge, "20060101", "", "00012", "1", "1", "1", "A", "001", "5  ", "", "815", "0"};
}

// The golden files with their placeholders replaced by dates of today.
std::string Expand(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 2, "{D") == 0) {
      size_t end = s.find('}', i);
      out += test::Ymd(std::stoi(s.substr(i + 2, end - i - 2)));
      i = end + 1;
    } else if (s.compare(i, 7, "{TODAY}") == 0) {
      time_t now = time(nullptr);
      struct tm tm;
      localtime_r(&now, &tm);
      char today[16];
      strftime(today, sizeof today, "%d.%m.%y", &tm);
      out += today;
      i += 7;
    } else {
      out += s[i++];
    }
  }
  return out;
}

std::string Problems(const Record& r) {
  std::string s;
  for (const auto& p : r.problems) s += p + "; ";
  return s;
}

TEST(Layouts, FixedLayoutsTileTheirWidth) {
  const std::pair<const char*, size_t> widths[] = {
      {"VQDNL17P", 85}, {"VQDNL31P", 48}, {"VQDNL18P", 173}, {"VQDNL60P", 45}, {"IDSTAMM", 0}};
  for (auto [name, width] : widths) {
    const layouts::Layout* l = FindLayout(name);
    ASSERT_NE(l, nullptr) << name;
    EXPECT_EQ(l->width, width) << name;
    size_t next = 1;
    for (const auto& f : l->fields) {
      if (l->quoted()) break;
      EXPECT_EQ(f.column, next) << name << " " << f.name;
      next += f.width;
    }
    if (!l->quoted()) {
      EXPECT_EQ(next, width + 1) << name;
    }
  }
  EXPECT_EQ(FindLayout("idstamm"), FindLayout("IDSTAMM"));
  EXPECT_EQ(FindLayout("VQDNL99P"), nullptr);
  EXPECT_EQ(FindLayout("IDSTAMM")->fields.size(), 13u);
}

// Every golden download file is recognised, decodes without a fault and
// encodes back to the same bytes.
TEST(Layouts, GoldenFilesDecodeAndEncodeBack) {
  const std::string dir = std::string(PLOM_SOURCE_DIR) + "/tests/golden/";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".dnl") continue;
    ++files;
    const std::string name = entry.path().filename().string();
    const std::string function = name.substr(0, name.find('_'));
    const std::string bytes = Expand(test::ReadFile(entry.path().string()));
    layouts::Recognition rec = RecogniseLayout(bytes);
    ASSERT_NE(rec.layout, nullptr) << name << ": " << rec.reason;
    EXPECT_EQ(rec.layout->function, function) << name;
    DecodedFile f = DecodeFile(bytes, *rec.layout);
    EXPECT_EQ(f.bad_records(), 0u) << name;
    for (const Record& r : f.records)
      EXPECT_TRUE(r.problems.empty()) << name << ":" << r.line << " " << Problems(r);
    if (rec.layout->width > 0) {
      EXPECT_EQ(f.records.size(), bytes.size() / rec.layout->width) << name;
      EXPECT_EQ(f.framing, Framing::kNone);
    }
    EXPECT_GT(f.records.size(), 5u) << name;
    EXPECT_EQ(layouts::EncodeFile(f), bytes) << name;
  }
  EXPECT_EQ(files, 9);
}

TEST(Layouts, FixedRecordFieldsByColumn) {
  // Entry 7 carries a location short text, entry 11 ends at column 85.
  const std::string raw =
      Rec17("4711", "01XY 02XY " + Pad("", 20) + "07LOC" + Pad("", 15) + "11XY ");
  ASSERT_EQ(raw.size(), 85u);
  Record r = DecodeRecord(*FindLayout("VQDNL17P"), raw, 4);
  EXPECT_TRUE(r.problems.empty()) << Problems(r);
  EXPECT_EQ(r.line, 4u);
  EXPECT_EQ(*r.Find("badge"), Pad("4711", 13));
  EXPECT_EQ(*r.Find("valid_from"), "20240101");
  EXPECT_EQ(*r.Find("time_flag"), "1");
  EXPECT_EQ(*r.Find("access_flag"), "1");
  EXPECT_EQ(*r.Find("balance"), "100,00 ");
  EXPECT_EQ(*r.Find("reader2"), "02");
  EXPECT_EQ(*r.Find("class2"), "XY ");
  EXPECT_EQ(*r.Find("reader3"), "  ");
  EXPECT_EQ(*r.Find("reader7"), "07");
  EXPECT_EQ(*r.Find("class7"), "LOC");
  EXPECT_EQ(*r.Find("reader11"), "11");
  EXPECT_EQ(*r.Find("class11"), "XY ");
  EXPECT_EQ(r.Find("reader12"), nullptr);
  EXPECT_EQ(layouts::KeyOf(*FindLayout("VQDNL17P"), r).badge, "4711");

  Record r18 = DecodeRecord(*FindLayout("VQDNL18P"), Rec18("B1"), 1);
  EXPECT_TRUE(r18.problems.empty()) << Problems(r18);
  EXPECT_EQ(*r18.Find("date"), "10.12.26");
  EXPECT_EQ(*r18.Find("balance"), "  1,15-");
  EXPECT_EQ(*r18.Find("label8"), Pad("Label8", 13));
  EXPECT_EQ(*r18.Find("vacation_remaining"), " 10,00 ");
  EXPECT_EQ(layouts::KeyOf(*FindLayout("VQDNL18P"), r18).valid_from, "");

  Record r31 = DecodeRecord(*FindLayout("VQDNL31P"), Rec31("B2"), 1);
  EXPECT_TRUE(r31.problems.empty()) << Problems(r31);
  EXPECT_EQ(*r31.Find("valid_to"), "20241231");
  EXPECT_EQ(*r31.Find("class"), "5  ");
  EXPECT_EQ(*r31.Find("location"), "ST1");
}

// A value changed field by field lands in its columns, nothing else moves.
TEST(Layouts, EncodePutsEachFieldAtItsColumn) {
  const layouts::Layout& l = *FindLayout("VQDNL60P");
  Record r = DecodeRecord(l, Rec60("1002"), 1);
  for (auto& f : r.fields) {
    if (f.def->name == "class3") f.value = "Z";
    if (f.def->name == "badge") f.value = "99";
    if (f.def->name == "balance") f.value = "1234567890";  // cut to 7
  }
  EXPECT_EQ(layouts::EncodeRecord(l, r),
            Pad("99", 13) + "2024010111" + "1234567" + "01ABC02ABC03Z  ");
  const layouts::Layout& id = *FindLayout("IDSTAMM");
  Record q = DecodeRecord(id, Idstamm(IdFields()).substr(0, Idstamm(IdFields()).size() - 2), 1);
  EXPECT_TRUE(q.problems.empty()) << Problems(q);
  EXPECT_EQ(layouts::EncodeRecord(id, q) + "\r\n", Idstamm(IdFields()));
}

// Each fault in one record: what the report says about it.
TEST(Layouts, RecordsThatDoNotFit) {
  struct Case {
    const char* function;
    std::string raw;
    std::string problem;  // "" when the record fits
  } cases[] = {
      {"VQDNL60P", Rec60("A"), ""},
      {"VQDNL60P", Rec60("A").substr(0, 44), "44 characters, the layout has 45"},
      {"VQDNL60P", Rec60("A") + " ", "46 characters, the layout has 45"},
      {"VQDNL60P", Rec60("", "20240101"), "badge: the badge number is empty"},
      {"VQDNL60P", Rec60("A", "20241301"), "valid_from: '20241301' is not a date (yyyymmdd)"},
      {"VQDNL60P", Rec60("A", "20230229"), "valid_from: '20230229' is not a date"},
      {"VQDNL60P", Rec60("A", "19000229"), "valid_from: '19000229' is not a date"},
      {"VQDNL60P", Rec60("A", "20000229"), ""},
      {"VQDNL60P", Rec60("A", "20240229"), ""},
      {"VQDNL60P", Rec60("A", "20240431"), "is not a date"},
      {"VQDNL60P", Rec60("A", "2024-1-1"), "is not a date"},
      {"VQDNL60P", Rec60("A", "00000000"), ""},
      {"VQDNL60P", Rec60("A", "        "), "is not a date"},
      {"VQDNL60P", Rec60("A", "20240101", "21"), "time_flag: '2' is not a flag (0 or 1)"},
      {"VQDNL60P", Rec60("A", "20240101", "00", "       ", ""),
       "neither time recording nor access"},
      {"VQDNL60P", Rec60("A", "20240101", "10"), "reader1: a reader entry with access_flag 0"},
      {"VQDNL60P", Rec60("A", "20240101", "10", "       ", ""), ""},
      {"VQDNL60P", Rec60("A", "20240101", "11", "abcdefg"), "balance: 'abcdefg' is not a figure"},
      {"VQDNL60P", Rec60("A", "20240101", "11", "1,1,1  "), "is not a figure"},
      {"VQDNL60P", Rec60("A", "20240101", "11", "  1,155"), "is not a figure"},
      {"VQDNL60P", Rec60("A", "20240101", "11", "1000,00"), ""},
      {"VQDNL60P", Rec60("A", "20240101", "11", "  10,00"), ""},
      {"VQDNL60P", Rec60("A", "20240101", "11", "100,00-"), ""},
      {"VQDNL60P", Rec60("A", "20240101", "11", "  1,15-", "01ABC05ABC"),
       "reader2: '05' is not reader number 02"},
      {"VQDNL60P", Rec60("A", "20240101", "11", "  1,15-", "01ABC  ABC"),
       "class2: a class without a reader number"},
      {"VQDNL60P", Rec60("A\tB"), "a control character in the record"},
      {"VQDNL17P", Rec17("A", Pad("", 30) + "07LOC", "10"), ""},
      {"VQDNL17P", Rec17("A", "01ABC", "10"), "reader1: a reader entry with access_flag 0"},
      {"VQDNL17P", Rec17("A", Pad("", 50) + "12ABC"), "reader11: '12' is not reader number 11"},
      {"VQDNL31P", Rec31("A", "20240101", "00000000"), ""},
      {"VQDNL31P", Rec31("A", "20240101", "20241232"), "valid_to: '20241232' is not a date"},
      {"VQDNL31P", Rec31("A", "20240101", "20241231", "10"),
       "access_flag: '0' in a record that is written only with access"},
      {"VQDNL31P", Rec31("A").replace(31, 8, "XXXX,XX "),
       "placeholder: 'XXXX,XX ' instead of 'XXXX,XX-'"},
      {"VQDNL31P", Rec31("A").replace(39, 3, "002"), "constant: '002' instead of '001'"},
      {"VQDNL18P", Rec18("A"), ""},
      {"VQDNL18P", Rec18("A", "32.12.26"), "date: '32.12.26' is not a date (dd.mm.yy)"},
      {"VQDNL18P", Rec18("A", "10-12-26"), "is not a date (dd.mm.yy)"},
      // Without a balance the date stays blank behind label 1's 13th character.
      {"VQDNL18P", Rec18("A", "X       "), ""},
      {"IDSTAMM", Idstamm(IdFields()), ""},
      {"IDSTAMM", "\"471\",\"20060101\"\r\n", "2 fields, the layout has 13"},
      {"IDSTAMM", "471,20060101\r\n", "not a line of double-quoted fields"},
      {"IDSTAMM", "\"47\"1\",\"x\"\r\n", "not a line of double-quoted fields"},
  };
  for (const Case& c : cases) {
    const layouts::Layout& l = *FindLayout(c.function);
    DecodedFile f = l.quoted() ? DecodeFile(c.raw, l)
                               : DecodedFile{&l, Framing::kNone, {DecodeRecord(l, c.raw, 1)}};
    ASSERT_EQ(f.records.size(), 1u) << c.raw;
    const std::string got = Problems(f.records[0]);
    if (c.problem.empty()) {
      EXPECT_EQ(got, "") << c.function << " [" << c.raw << "]";
    } else {
      EXPECT_NE(got.find(c.problem), std::string::npos)
          << c.function << " [" << c.raw << "]: " << got;
    }
  }
}

TEST(Layouts, IdstammFieldFaults) {
  struct Case {
    size_t field;  // from 0
    std::string value;
    std::string problem;
  } cases[] = {
      {1, "", ""},
      {1, "2006011", "valid_from: '2006011' is not a date"},
      {2, "20061231", ""},
      {2, "00000000", "valid_to: '00000000' is not a date"},
      {3, "", ""},
      {3, "0001", "location: '0001' is not a location"},
      {3, "0001a", "is not a location"},
      {4, "x", "time_flag: 'x' is not a flag"},
      {6, "", ""},
      {6, "-3", ""},
      {6, "1.5", "PnrSpr: '1.5' is not a number"},
      {8, "002", "constant: '002' instead of '001'"},
      {12, "", ""},
      {12, "zwei", "AswAtp: 'zwei' is not a number"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> fields = IdFields();
    fields[c.field] = c.value;
    DecodedFile f = DecodeFile(Idstamm(fields), *FindLayout("IDSTAMM"));
    ASSERT_EQ(f.records.size(), 1u);
    const std::string got = Problems(f.records[0]);
    if (c.problem.empty()) {
      EXPECT_EQ(got, "") << c.field << " " << c.value;
    } else {
      EXPECT_NE(got.find(c.problem), std::string::npos) << c.field << " " << c.value << ": " << got;
    }
  }
  // The last line without CR LF, and a line with LF alone.
  DecodedFile f = DecodeFile(Idstamm(IdFields()) + Idstamm(IdFields("472")).substr(0, 60),
                             *FindLayout("IDSTAMM"));
  ASSERT_EQ(f.records.size(), 2u);
  EXPECT_NE(Problems(f.records[1]).find("does not end in CR LF"), std::string::npos);
  std::string lf = Idstamm(IdFields());
  lf.erase(lf.size() - 2, 1);
  f = DecodeFile(lf, *FindLayout("IDSTAMM"));
  EXPECT_NE(Problems(f.records[0]).find("does not end in CR LF"), std::string::npos);
}

TEST(Layouts, PlainSequenceCutIntoRecords) {
  const std::string bytes = Rec60("A") + Rec60("B") + Rec60("C").substr(0, 30);
  DecodedFile f = DecodeFile(bytes, *FindLayout("VQDNL60P"));
  ASSERT_EQ(f.records.size(), 3u);
  EXPECT_TRUE(f.records[1].problems.empty());
  EXPECT_EQ(f.records[2].line, 3u);
  EXPECT_EQ(Problems(f.records[2]), "30 characters, the layout has 45; ");
  EXPECT_EQ(f.bad_records(), 1u);
}

TEST(Layouts, RecordsWithLineEndsAreReadLineByLine) {
  const std::string crlf = Rec17("A", "01ABC") + "\r\n" + Rec17("B", "01ABC") + "\r\n";
  layouts::Recognition rec = RecogniseLayout(crlf);
  ASSERT_NE(rec.layout, nullptr) << rec.reason;
  EXPECT_EQ(rec.layout->function, "VQDNL17P");
  DecodedFile f = DecodeFile(crlf, *rec.layout);
  EXPECT_EQ(f.framing, Framing::kCrLf);
  EXPECT_EQ(f.bad_records(), 0u);
  EXPECT_EQ(layouts::EncodeFile(f), crlf);
  // One line a character short: only that line is reported.
  const std::string shortline = Rec60("A") + "\n" + Rec60("B").substr(1) + "\n" + Rec60("C") + "\n";
  f = DecodeFile(shortline, *FindLayout("VQDNL60P"));
  EXPECT_EQ(f.framing, Framing::kLf);
  ASSERT_EQ(f.records.size(), 3u);
  EXPECT_TRUE(f.records[0].problems.empty());
  EXPECT_NE(Problems(f.records[1]).find("44 characters"), std::string::npos);
  EXPECT_TRUE(f.records[2].problems.empty());
}

TEST(Layouts, Recognition) {
  auto function = [](const std::string& bytes) {
    layouts::Recognition r = RecogniseLayout(bytes);
    return r.layout ? r.layout->function : "none: " + r.reason;
  };
  std::string seventeen60;  // 17 x 45 = 9 x 85 characters
  for (int i = 0; i < 17; ++i) seventeen60 += Rec60("B" + std::to_string(100 + i));
  std::string nine17;
  for (int i = 0; i < 9; ++i) nine17 += Rec17("B" + std::to_string(100 + i), "01ABC");
  EXPECT_EQ(function(Rec60("A")), "VQDNL60P");
  EXPECT_EQ(function(seventeen60), "VQDNL60P");
  EXPECT_EQ(function(nine17), "VQDNL17P");
  EXPECT_EQ(function(Rec31("A") + Rec31("B")), "VQDNL31P");
  EXPECT_EQ(function(Rec18("A")), "VQDNL18P");
  EXPECT_EQ(function(Idstamm(IdFields())), "IDSTAMM");
  // A short last record: the first record still tells the layout.
  EXPECT_EQ(function(Rec31("A") + "1234"), "VQDNL31P");
  EXPECT_EQ(function(""), "none: an empty file: name its layout with --function");
  EXPECT_EQ(function(std::string(50, 'x')),
            "none: 50 characters that no layout reads: name its layout with --function");
  EXPECT_EQ(function(std::string(40, 'x') + "\r\n"),
            "none: the first line has 40 characters, which no layout has");
}

// ---- the program ----

class ShowTest : public ::testing::Test {
 protected:
  ShowTest() : dir_(test::TempDir()) {}
  ~ShowTest() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_ + "/" + name, bytes);
    return dir_ + "/" + name;
  }
  int Run(std::vector<std::string> args) {
    out_.clear();
    err_.clear();
    return show::RunShow(args, &out_, &err_);
  }

  std::string dir_, out_, err_;
};

TEST_F(ShowTest, TableOfOneFile) {
  std::string path =
      File("a.dnl", Rec60("1002") + Rec60("Fr\xE4nk", "00000000", "10", "       ", ""));
  ASSERT_EQ(Run({path}), 0) << err_;
  EXPECT_EQ(
      out_,
      path +
          ": VQDNL60P, 2 records\n"
          "line  badge  valid_from  time_flag  access_flag  balance  reader1  class1  reader2  "
          "class2  reader3  class3\n"
          "1     1002   20240101    1          1            1,15-    01       ABC     02       "
          "ABC     03       ABC\n"
          "2     Fr\xC3\xA4nk  00000000    1          0\n");
  EXPECT_EQ(err_, "");
}

// Options may follow the file names; the files are those named, in order.
TEST_F(ShowTest, OptionsAfterTheFiles) {
  std::string a = File("a.dnl", Rec60("1002")), b = File("b.dnl", Rec60("1003"));
  ASSERT_EQ(Run({a, "--tsv"}), 0) << err_;
  EXPECT_EQ(out_.find(a + ": VQDNL60P"), std::string::npos) << "tsv, not the table";
  EXPECT_NE(out_.find("1002"), std::string::npos) << out_;
  EXPECT_EQ(Run({a, b, "--diff"}), 1) << err_;
  EXPECT_NE(out_.find("old: " + a), std::string::npos) << out_;
  EXPECT_NE(out_.find("new: " + b), std::string::npos) << out_;
}

TEST_F(ShowTest, BadRecordNamedWithItsLineAndExit65) {
  std::string path = File("a.dnl", Rec60("A") + Rec60("B", "20241301") + Rec60("C").substr(0, 20));
  EXPECT_EQ(Run({path}), show::kShowBadData);
  EXPECT_NE(out_.find("\nline 2: valid_from: '20241301' is not a date (yyyymmdd)\n"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("line 3: 20 characters, the layout has 45\n"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("line 1:"), std::string::npos);
  // The TSV stays clean for scripts: faults go to the error stream.
  EXPECT_EQ(Run({"--tsv", path}), show::kShowBadData);
  EXPECT_NE(err_.find(path + ":2: valid_from: '20241301' is not a date"), std::string::npos)
      << err_;
  EXPECT_EQ(out_.find("not a date"), std::string::npos);
  // Only the records shown count: badge A fits, badge B does not.
  EXPECT_EQ(Run({"--badge", "A", path}), 0) << out_;
  EXPECT_EQ(out_.find("line 2"), std::string::npos) << out_;
  EXPECT_EQ(Run({"--badge", "B", "--json", path}), show::kShowBadData);
  EXPECT_EQ(nlohmann::json::parse(out_)["records"][0]["problems"][0],
            "valid_from: '20241301' is not a date (yyyymmdd)");
}

TEST_F(ShowTest, TsvAndJson) {
  std::string path =
      File("i.dnl", Idstamm(IdFields()) + Idstamm({"472", "", "", "", "1", "0", "", "Fr\xE4ulein",
                                                   "001", "0", "", "9", "0"}));
  ASSERT_EQ(Run({"--tsv", path}), 0) << err_;
  EXPECT_EQ(out_,
            "line\tbadge\tvalid_from\tvalid_to\tlocation\ttime_flag\taccess_flag\tPnrSpr\tPnrSal\t"
            "constant\tclass\treserved\tpersonnel_number\tAswAtp\n"
            "1\t471\t20060101\t\t00012\t1\t1\t1\tA\t001\t5  \t\t815\t0\n"
            "2\t472\t\t\t\t1\t0\t\tFr\xC3\xA4ulein\t001\t0\t\t9\t0\n");
  ASSERT_EQ(Run({"--json", "--badge", "472", path}), 0) << err_;
  nlohmann::json doc = nlohmann::json::parse(out_);
  EXPECT_EQ(doc["function"], "IDSTAMM");
  ASSERT_EQ(doc["records"].size(), 1u);
  EXPECT_EQ(doc["records"][0]["line"], 2);
  EXPECT_EQ(doc["records"][0]["fields"]["PnrSal"], "Fr\xC3\xA4ulein");
  EXPECT_EQ(doc["records"][0]["fields"]["class"], "0");
  EXPECT_TRUE(doc["records"][0]["problems"].empty());
}

TEST_F(ShowTest, BadgeFilterAndFunctionOption) {
  std::string path = File("a.dnl", Rec60("1002") + Rec60("1003") + Rec60("1002", "20250101"));
  ASSERT_EQ(Run({"--badge", "1002", "--tsv", path}), 0);
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 3) << out_;
  EXPECT_EQ(out_.find("1003"), std::string::npos);
  ASSERT_EQ(Run({"--badge", "9999", "--json", path}), 0);
  EXPECT_TRUE(nlohmann::json::parse(out_)["records"].empty());
  // Named wrongly, the file does not fit: every record is reported.
  EXPECT_EQ(Run({"--function", "vqdnl31p", path}), show::kShowBadData);
  EXPECT_NE(out_.find("VQDNL31P"), std::string::npos);
  // An empty file has no layout of its own.
  std::string empty = File("e.dnl", "");
  ASSERT_EQ(Run({"--json", empty}), 0);
  EXPECT_TRUE(nlohmann::json::parse(out_)["function"].is_null());
  ASSERT_EQ(Run({"--function", "VQDNL17P", "--json", empty}), 0);
  EXPECT_EQ(nlohmann::json::parse(out_)["function"], "VQDNL17P");
  // A file that no layout reads.
  std::string junk = File("j.dnl", std::string(50, 'x'));
  EXPECT_EQ(Run({junk}), show::kShowBadData);
  EXPECT_NE(err_.find("no layout reads"), std::string::npos);
}

TEST_F(ShowTest, UsageAndUnreadableFile) {
  std::string path = File("a.dnl", Rec60("A"));
  const std::vector<std::string> usage[] = {
      {},
      {path, path},
      {"--tsv", "--json", path},
      {"--function", "VQDNL99P", path},
      {"--bogus", path},
      {"--function"},
  };
  for (const auto& args : usage) {
    EXPECT_EQ(Run(args), show::kShowUsage) << (args.empty() ? "" : args[0]);
    EXPECT_NE(err_.find("Usage: plomvarde-show"), std::string::npos);
    EXPECT_EQ(out_, "");
  }
  EXPECT_EQ(Run({dir_ + "/missing.dnl"}), show::kShowNoInput);
  EXPECT_NE(err_.find("missing.dnl: cannot be read"), std::string::npos);
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.find("Usage: plomvarde-show"), std::string::npos);
}

// ---- --diff ----

TEST_F(ShowTest, DiffAddedRemovedChangedUnchanged) {
  std::string old_file = File("old.dnl", Rec60("1001") + Rec60("1002") + Rec60("1003") +
                                             Rec60("1004", "20240101", "11", "  2,00 "));
  std::string new_file = File(
      "new.dnl", Rec60("1001") + Rec60("1002", "20240101", "11", "  1,15-", "01XYZ02XYZ03XYZ") +
                     Rec60("1003", "20240301") + Rec60("1004", "20240101", "11", "  2,00 ") +
                     Rec60("1005"));
  ASSERT_EQ(Run({"--diff", old_file, new_file}), show::kDiffDifferent) << err_;
  EXPECT_EQ(out_, "old: " + old_file +
                      ", 4 records\n"
                      "new: " +
                      new_file +
                      ", 5 records (VQDNL60P)\n"
                      "changed  1002      20240101  lines 2 / 2\n"
                      "           class1  'ABC'     -> 'XYZ'\n"
                      "           class2  'ABC'     -> 'XYZ'\n"
                      "           class3  'ABC'     -> 'XYZ'\n"
                      "removed  1003      20240101  old line 3\n"
                      "added    1003      20240301  new line 3\n"
                      "added    1005      20240101  new line 5\n"
                      "unchanged: 2\n");

  ASSERT_EQ(Run({"--json", "--diff", old_file, new_file}), show::kDiffDifferent);
  nlohmann::json doc = nlohmann::json::parse(out_);
  EXPECT_EQ(doc["unchanged"], 2);
  ASSERT_EQ(doc["changed"].size(), 1u);
  EXPECT_EQ(doc["changed"][0]["fields"]["class1"]["old"], "ABC");
  EXPECT_EQ(doc["changed"][0]["fields"]["class1"]["new"], "XYZ");
  ASSERT_EQ(doc["added"].size(), 2u);
  EXPECT_EQ(doc["added"][1]["badge"], "1005");
  EXPECT_EQ(doc["added"][1]["fields"]["balance"], "1,15-");
  ASSERT_EQ(doc["removed"].size(), 1u);
  EXPECT_EQ(doc["removed"][0]["valid_from"], "20240101");

  ASSERT_EQ(Run({"--tsv", "--diff", old_file, new_file}), show::kDiffDifferent);
  EXPECT_NE(out_.find("changed\t1002\t20240101\t2\t2\tclass1\tABC\tXYZ\n"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("added\t1005\t20240101\t0\t5\t\t\t\n"), std::string::npos) << out_;
}

TEST_F(ShowTest, DiffSameFilesAndRepeatedKeys) {
  // A badge listed twice under one key pairs in file order.
  std::string a =
      File("a.dnl", Rec60("1") + Rec60("1", "20240101", "10", "       ", "") + Rec60("2"));
  std::string b =
      File("b.dnl", Rec60("1") + Rec60("1", "20240101", "10", "  0,00 ", "") + Rec60("2"));
  ASSERT_EQ(Run({"--diff", a, a}), show::kDiffSame);
  EXPECT_EQ(out_.substr(out_.find("unchanged")), "unchanged: 3\n");
  ASSERT_EQ(Run({"--diff", a, b}), show::kDiffDifferent);
  EXPECT_NE(out_.find("lines 2 / 2"), std::string::npos) << out_;
  EXPECT_NE(out_.find("balance  '       '  -> '  0,00 '"), std::string::npos) << out_;
  EXPECT_NE(out_.find("unchanged: 2\n"), std::string::npos) << out_;
  // An empty old file: every record is added.
  std::string empty = File("e.dnl", "");
  ASSERT_EQ(Run({"--diff", empty, b}), show::kDiffDifferent);
  size_t added = 0;
  for (size_t at = 0; (at = out_.find("\nadded ", at)) != std::string::npos; ++at) ++added;
  EXPECT_EQ(added, 3u) << out_;
  EXPECT_NE(out_.find("added  2  20240101  new line 3\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("unchanged: 0\n"), std::string::npos);
  ASSERT_EQ(Run({"--diff", empty, empty}), show::kDiffSame);
}

TEST_F(ShowTest, DiffTrouble) {
  std::string a = File("a.dnl", Rec60("1"));
  std::string b = File("b.dnl", Rec17("1", "01ABC"));
  std::string bad = File("bad.dnl", Rec60("1", "20241301"));
  EXPECT_EQ(Run({"--diff", a, b}), show::kDiffTrouble);
  EXPECT_NE(err_.find("files of different layouts"), std::string::npos) << err_;
  EXPECT_EQ(Run({"--diff", a, dir_ + "/missing.dnl"}), show::kDiffTrouble);
  EXPECT_EQ(Run({"--diff", a, bad}), show::kDiffTrouble);
  EXPECT_NE(err_.find(bad + ":1: valid_from"), std::string::npos) << err_;
  // A wrong command line is a usage error, with --diff too.
  EXPECT_EQ(Run({"--diff", a}), show::kShowUsage);
  EXPECT_EQ(Run({"--diff", "--badge", "1", a, a}), show::kShowUsage);
  EXPECT_EQ(out_, "");
}

// The program passes the exit status and both streams through.
TEST_F(ShowTest, ProgramExitStatus) {
  std::string good = File("g.dnl", Rec60("1"));
  std::string bad = File("b.dnl", Rec60("1", "20241301"));
  auto status = [](const std::string& args) {
    std::string cmd = std::string(PLOM_BINARY_DIR) + "/plomvarde-show " + args + " >/dev/null 2>&1";
    return test::ExitStatus(std::system(cmd.c_str()));
  };
  EXPECT_EQ(status(good), 0);
  EXPECT_EQ(status(bad), 65);
  EXPECT_EQ(status("--diff " + good + " " + bad), 2);
  EXPECT_EQ(status("--diff " + good + " " + good), 0);
  EXPECT_EQ(status(""), 64);
}

}  // namespace
}  // namespace plom

namespace plom {
namespace {

TEST(ShowVersion, PrintsTheProjectVersion) {
  std::string out, err;
  EXPECT_EQ(show::RunShow({"--version"}, &out, &err), show::kShowOk);
  EXPECT_EQ(out, "plomvarde-show 1.0.0\n");
  EXPECT_EQ(err, "");
}

// Peak memory (kB) and exit status of plomvarde-show on the arguments, run
// as a child with its output thrown away.
std::pair<long, int> ShowPeak(const std::vector<std::string>& args) {
  const std::string bin = std::string(PLOM_BINARY_DIR) + "/plomvarde-show";
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(bin.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage use = {};
  wait4(pid, &status, 0, &use);
  return {use.ru_maxrss, test::ExitStatus(status)};
}

// Large and hostile files are read as streams: memory stays at a few
// records whatever the file's size and form. --diff merges two large files
// in the order the tool writes them as streams, and refuses large ones out
// of that order instead of holding them.
TEST(ShowLargeFiles, MemoryStaysAtAFewRecords) {
  std::string dir = test::TempDir();
  const size_t kSize = 40u << 20;  // beyond what --diff holds whole
  const size_t kRecords = 100000;  // 4.5 MB in key order
  // One quoted "line" without any line break.
  std::string no_breaks = dir + "/one-line.ids";
  // Two VQDNL60P files in key order: the second changes the balance of
  // every 1000th record, drops the first and adds one at the end. A third
  // of 40 MB is out of order at its start.
  std::string old_file = dir + "/old.60p", new_file = dir + "/new.60p", unsorted = dir + "/u.60p";
  {
    std::string block(1 << 20, 'x');
    block[0] = '"';
    FILE* a = std::fopen(no_breaks.c_str(), "wb");
    ASSERT_TRUE(a);
    for (size_t done = 0; done < kSize; done += block.size()) {
      std::fwrite(block.data(), 1, block.size(), a);
    }
    std::fclose(a);
    FILE* o = std::fopen(old_file.c_str(), "wb");
    FILE* n = std::fopen(new_file.c_str(), "wb");
    FILE* u = std::fopen(unsorted.c_str(), "wb");
    ASSERT_TRUE(o && n && u);
    char badge[16];
    for (size_t i = 0; i < kRecords; ++i) {
      std::snprintf(badge, sizeof badge, "%012zu", i);
      std::string rec = Rec60(badge);
      std::fwrite(rec.data(), 1, rec.size(), o);
      if (i == 0) continue;
      if (i % 1000 == 0) rec = Rec60(badge, "20240101", "11", "  2,30 ");
      std::fwrite(rec.data(), 1, rec.size(), n);
    }
    std::snprintf(badge, sizeof badge, "%012zu", kRecords);
    std::fwrite(Rec60(badge).data(), 1, 45, n);
    std::string rec = Rec60("9") + Rec60("1");
    for (size_t done = 0; done < kSize; done += rec.size()) std::fwrite(rec.data(), 1, rec.size(), u);
    std::fclose(o);
    std::fclose(n);
    std::fclose(u);
  }
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{no_breaks}, 65},
      {{"--json", no_breaks}, 65},
      {{"--diff", old_file, new_file}, 1},
      {{"--diff", "--json", old_file, new_file}, 1},
      {{"--diff", old_file, unsorted}, 2},
  };
  // What the program takes doing nothing (more with the sanitizers).
  const long base_kb = ShowPeak({"--version"}).first;
  for (const Case& c : cases) {
    auto [peak_kb, status] = ShowPeak(c.args);
    std::string args;
    for (const std::string& a : c.args) args += " " + a.substr(a.rfind('/') + 1);
    SCOPED_TRACE(args);
    EXPECT_EQ(status, c.status);
    EXPECT_LT(peak_kb - base_kb, 16 * 1024)
        << "a " << (kSize >> 20) << " MB file took " << peak_kb << " kB";
    std::cout << "[ figures  ] plomvarde-show" << args << ": peak " << peak_kb
              << " kB (" << base_kb << " kB doing nothing)" << std::endl;
  }
  std::string out, err;
  EXPECT_EQ(show::RunShow({"--diff", "--tsv", old_file, new_file}, &out, &err),
            show::kDiffDifferent);
  size_t added = 0, removed = 0, changed = 0;
  for (size_t at = 0; (at = out.find('\n', at)) != std::string::npos; ++at) {
    std::string_view kind = std::string_view(out).substr(at + 1, 7);
    added += kind.substr(0, 5) == "added";
    removed += kind == "removed";
    changed += kind == "changed";
  }
  EXPECT_EQ(added, 1u);
  EXPECT_EQ(removed, 1u);
  EXPECT_EQ(changed, (kRecords - 1) / 1000);
  EXPECT_EQ(show::RunShow({"--diff", unsorted, old_file}, &out, &err), show::kDiffTrouble);
  EXPECT_NE(err.find(unsorted + " is not in the order of its records, and --diff holds such "
                                "files whole only up to 32 MB each"),
            std::string::npos)
      << err;
}

}  // namespace
}  // namespace plom
