#include "layouts/layouts.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace plom::layouts {
namespace {

// Builds the field list of a fixed layout column by column.
class FixedBuilder {
 public:
  FixedBuilder& Add(std::string name, size_t width, FieldKind kind, std::string fixed = "",
                    int entry = 0) {
    fields_.push_back({std::move(name), next_, width, kind, std::move(fixed), entry});
    next_ += width;
    return *this;
  }
  // Reader entries 1 to count: two digits of the reader number, the class.
  FixedBuilder& ReaderEntries(int count) {
    for (int n = 1; n <= count; ++n) {
      Add("reader" + std::to_string(n), 2, FieldKind::kReader, "", n);
      Add("class" + std::to_string(n), 3, FieldKind::kClass, "", n);
    }
    return *this;
  }
  Layout Build(std::string function) {
    return {std::move(function), next_ - 1, std::move(fields_)};
  }

 private:
  size_t next_ = 1;
  std::vector<FieldDef> fields_;
};

// Badge, valid from, the two flags and the balance: columns 1 to 30 of
// VQDNL17P and VQDNL60P.
FixedBuilder BadgeHead() {
  FixedBuilder b;
  b.Add("badge", 13, FieldKind::kBadge)
      .Add("valid_from", 8, FieldKind::kDate)
      .Add("time_flag", 1, FieldKind::kFlag)
      .Add("access_flag", 1, FieldKind::kFlag)
      .Add("balance", 7, FieldKind::kAmount);
  return b;
}

Layout Vqdnl17p() { return BadgeHead().ReaderEntries(11).Build("VQDNL17P"); }
Layout Vqdnl60p() { return BadgeHead().ReaderEntries(3).Build("VQDNL60P"); }

Layout Vqdnl31p() {
  return FixedBuilder()
      .Add("badge", 13, FieldKind::kBadge)
      .Add("valid_from", 8, FieldKind::kDate)
      .Add("valid_to", 8, FieldKind::kDate)
      .Add("time_flag", 1, FieldKind::kFlag)
      .Add("access_flag", 1, FieldKind::kFlag)
      .Add("placeholder", 8, FieldKind::kFixed, "XXXX,XX-")
      .Add("constant", 3, FieldKind::kFixed, "001")
      .Add("class", 3, FieldKind::kClass)
      .Add("location", 3, FieldKind::kText)
      .Build("VQDNL31P");
}

// After the badge number eight groups of a 13-character label and a
// 7-character value; in group 1 the date takes the label's last character.
Layout Vqdnl18p() {
  const char* values[] = {"balance",           "value3",          "vacation_previous_year",
                          "vacation_annual",   "vacation_credit", "vacation_taken",
                          "vacation_remaining"};
  FixedBuilder b;
  b.Add("badge", 13, FieldKind::kBadge)
      .Add("label1", 12, FieldKind::kText)
      .Add("date", 8, FieldKind::kDisplayDate);
  for (int n = 2; n <= 8; ++n) {
    b.Add("label" + std::to_string(n), 13, FieldKind::kText);
    b.Add(values[n - 2], 7, FieldKind::kAmount);
  }
  return b.Build("VQDNL18P");
}

Layout Idstamm() {
  struct {
    const char* name;
    FieldKind kind;
    const char* fixed;
  } fields[] = {
      {"badge", FieldKind::kBadge, ""},       {"valid_from", FieldKind::kDate, ""},
      {"valid_to", FieldKind::kDate, ""},     {"location", FieldKind::kLocation, ""},
      {"time_flag", FieldKind::kFlag, ""},    {"access_flag", FieldKind::kFlag, ""},
      {"PnrSpr", FieldKind::kInteger, ""},    {"PnrSal", FieldKind::kText, ""},
      {"constant", FieldKind::kFixed, "001"}, {"class", FieldKind::kText, ""},
      {"reserved", FieldKind::kText, ""},     {"personnel_number", FieldKind::kText, ""},
      {"AswAtp", FieldKind::kInteger, ""},
  };
  Layout l{"IDSTAMM", 0, {}};
  for (const auto& f : fields) l.fields.push_back({f.name, 0, 0, f.kind, f.fixed, 0});
  return l;
}

bool IsBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view digits) {
  int n = 0;
  for (char c : digits) n = n * 10 + (c - '0');
  return n;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool IsCalendarDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  int days = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  return day <= days;
}

// yyyymmdd
bool IsYmd(std::string_view s) {
  return s.size() == 8 && AllDigits(s) &&
         IsCalendarDate(Number(s.substr(0, 4)), Number(s.substr(4, 2)), Number(s.substr(6, 2)));
}

// dd.mm.yy
bool IsDmy(std::string_view s) {
  if (s.size() != 8 || s[2] != '.' || s[5] != '.') return false;
  std::string_view d = s.substr(0, 2), m = s.substr(3, 2), y = s.substr(6, 2);
  return AllDigits(d) && AllDigits(m) && AllDigits(y) &&
         IsCalendarDate(2000 + Number(y), Number(m), Number(d));
}

// A display figure: blanks, digits, a comma, up to two decimals and a sign
// character, cut to 7 characters ("  1,15-", "100,00 ", "1000,00").
bool IsAmount(std::string_view s) {
  size_t i = s.find_first_not_of(' ');
  if (i == std::string_view::npos) return true;
  size_t comma = s.find(',', i);
  if (comma == std::string_view::npos || !AllDigits(s.substr(i, comma - i))) return false;
  std::string_view rest = s.substr(comma + 1);
  if (!rest.empty() && (rest.back() == '-' || rest.back() == ' ')) rest.remove_suffix(1);
  return rest.size() <= 2 && (rest.empty() || AllDigits(rest));
}

bool IsInteger(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  return AllDigits(s);
}

bool HasControlCharacter(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

std::string Quote(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string TwoDigits(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? "0" + s : s;
}

// What is wrong with one field's value; empty when nothing.
std::string CheckField(const Layout& layout, const FieldDef& f, std::string_view v) {
  const bool quoted = layout.quoted();
  switch (f.kind) {
    case FieldKind::kBadge:
      if (IsBlank(v)) return "the badge number is empty";
      return {};
    case FieldKind::kDate:
      if (quoted ? v.empty() : v == "00000000") return {};
      return IsYmd(v) ? "" : Quote(v) + " is not a date (yyyymmdd)";
    case FieldKind::kFlag:
      return v == "0" || v == "1" ? "" : Quote(v) + " is not a flag (0 or 1)";
    case FieldKind::kAmount:
      return IsAmount(v) ? "" : Quote(v) + " is not a figure";
    case FieldKind::kReader:
      if (IsBlank(v) || v == TwoDigits(f.entry)) return {};
      return Quote(v) + " is not reader number " + TwoDigits(f.entry);
    case FieldKind::kFixed:
      return v == f.fixed ? "" : Quote(v) + " instead of " + Quote(f.fixed);
    case FieldKind::kDisplayDate:
      if (IsDmy(v) || IsBlank(v.substr(std::min<size_t>(1, v.size())))) return {};
      return Quote(v) + " is not a date (dd.mm.yy)";
    case FieldKind::kLocation:
      return v.empty() || (v.size() == 5 && AllDigits(v)) ? "" : Quote(v) + " is not a location";
    case FieldKind::kInteger:
      return v.empty() || IsInteger(v) ? "" : Quote(v) + " is not a number";
    case FieldKind::kClass:
    case FieldKind::kText:
      return {};
  }
  return {};
}

// Checks that tie fields of one record together.
void CheckRecord(const Layout& layout, Record* r) {
  const std::string* time = r->Find("time_flag");
  const std::string* access = r->Find("access_flag");
  if (time && access && *time == "0" && *access == "0") {
    r->problems.push_back("neither time recording nor access: no such record is written");
  }
  for (const Field& f : r->fields) {
    if (f.def->kind != FieldKind::kClass || f.def->entry == 0) continue;
    const std::string* reader = r->Find("reader" + std::to_string(f.def->entry));
    if (reader && IsBlank(*reader) && !IsBlank(f.value)) {
      r->problems.push_back(f.def->name + ": a class without a reader number");
    }
  }
  // Reader entries exist only with access; in VQDNL17P entry 7 may carry
  // the location short text whatever the flag.
  if (layout.function == "VQDNL31P" && access && *access != "1") {
    r->problems.push_back("access_flag: '" + *access +
                          "' in a record that is written only with access");
  }
  if (!access || *access != "0") return;
  for (const Field& f : r->fields) {
    if (f.def->kind != FieldKind::kReader || IsBlank(f.value)) continue;
    if (layout.function == "VQDNL17P" && f.def->entry == 7) continue;
    r->problems.push_back(f.def->name + ": a reader entry with access_flag 0");
  }
}

void CheckFields(const Layout& layout, Record* r) {
  for (const Field& f : r->fields) {
    std::string what = CheckField(layout, *f.def, f.value);
    if (!what.empty()) r->problems.push_back(f.def->name + ": " + what);
  }
  CheckRecord(layout, r);
}

Record DecodeFixed(const Layout& layout, std::string_view raw, size_t line) {
  Record r;
  r.line = line;
  if (raw.size() != layout.width) {
    r.problems.push_back(std::to_string(raw.size()) + " characters, the layout has " +
                         std::to_string(layout.width));
  }
  if (HasControlCharacter(raw)) r.problems.push_back("a control character in the record");
  for (const FieldDef& f : layout.fields) {
    size_t from = std::min(f.column - 1, raw.size());
    r.fields.push_back({&f, std::string(raw.substr(from, f.width))});
  }
  if (raw.size() == layout.width) CheckFields(layout, &r);
  return r;
}

// "v1","v2",...: the values between the quotes; nothing inside is escaped.
bool SplitQuoted(std::string_view raw, std::vector<std::string>* values) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return false;
  std::string_view inner = raw.substr(1, raw.size() - 2);
  for (;;) {
    size_t sep = inner.find("\",\"");
    values->emplace_back(inner.substr(0, sep));
    if (sep == std::string_view::npos) break;
    inner.remove_prefix(sep + 3);
  }
  return std::none_of(values->begin(), values->end(),
                      [](const std::string& v) { return v.find('"') != std::string::npos; });
}

Record DecodeQuoted(const Layout& layout, std::string_view raw, size_t line) {
  Record r;
  r.line = line;
  std::vector<std::string> values;
  if (!SplitQuoted(raw, &values)) {
    r.problems.push_back("not a line of double-quoted fields separated by commas");
    return r;
  }
  if (values.size() != layout.fields.size()) {
    r.problems.push_back(std::to_string(values.size()) + " fields, the layout has " +
                         std::to_string(layout.fields.size()));
    return r;
  }
  for (size_t i = 0; i < values.size(); ++i) r.fields.push_back({&layout.fields[i], values[i]});
  if (HasControlCharacter(raw)) r.problems.push_back("a control character in the line");
  CheckFields(layout, &r);
  return r;
}

struct Line {
  std::string_view text;  // without its line end
  bool crlf = false;
  bool ended = false;  // has a line feed
};

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  while (!bytes.empty()) {
    size_t lf = bytes.find('\n');
    Line l;
    l.text = bytes.substr(0, lf);
    l.ended = lf != std::string_view::npos;
    if (l.ended && !l.text.empty() && l.text.back() == '\r') {
      l.text.remove_suffix(1);
      l.crlf = true;
    }
    lines.push_back(l);
    bytes.remove_prefix(l.ended ? lf + 1 : bytes.size());
  }
  return lines;
}

std::string LineEnd(Framing f) {
  switch (f) {
    case Framing::kCrLf:
      return "\r\n";
    case Framing::kLf:
      return "\n";
    case Framing::kNone:
      return "";
  }
  return "";
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string Names(const std::vector<const Layout*>& ls) {
  std::string s;
  for (const Layout* l : ls) s += (s.empty() ? "" : " or ") + l->function;
  return s;
}

}  // namespace

const std::vector<Layout>& AllLayouts() {
  static const std::vector<Layout> kLayouts = {Vqdnl17p(), Vqdnl31p(), Vqdnl18p(), Vqdnl60p(),
                                               Idstamm()};
  return kLayouts;
}

const Layout* FindLayout(std::string_view function) {
  std::string upper(function);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Layout& l : AllLayouts()) {
    if (l.function == upper) return &l;
  }
  return nullptr;
}

const std::string* Record::Find(std::string_view name) const {
  for (const Field& f : fields) {
    if (f.def->name == name) return &f.value;
  }
  return nullptr;
}

size_t DecodedFile::bad_records() const {
  return static_cast<size_t>(std::count_if(records.begin(), records.end(),
                                           [](const Record& r) { return !r.problems.empty(); }));
}

Record DecodeRecord(const Layout& layout, std::string_view raw, size_t line) {
  return layout.quoted() ? DecodeQuoted(layout, raw, line) : DecodeFixed(layout, raw, line);
}

DecodedFile DecodeFile(std::string_view bytes, const Layout& layout) {
  DecodedFile file;
  file.layout = &layout;
  if (layout.quoted() || bytes.find('\n') != std::string_view::npos) {
    std::vector<Line> lines = SplitLines(bytes);
    file.framing =
        layout.quoted() || (!lines.empty() && lines[0].crlf) ? Framing::kCrLf : Framing::kLf;
    for (size_t i = 0; i < lines.size(); ++i) {
      Record r = DecodeRecord(layout, lines[i].text, i + 1);
      bool end_ok =
          file.framing == Framing::kCrLf ? lines[i].crlf : lines[i].ended && !lines[i].crlf;
      if (!end_ok)
        r.problems.push_back("the line does not end in " +
                             std::string(file.framing == Framing::kCrLf ? "CR LF" : "LF"));
      file.records.push_back(std::move(r));
    }
    return file;
  }
  for (size_t at = 0, n = 1; at < bytes.size(); at += layout.width, ++n) {
    file.records.push_back(DecodeRecord(layout, bytes.substr(at, layout.width), n));
  }
  return file;
}

std::string EncodeRecord(const Layout& layout, const Record& record) {
  if (layout.quoted()) {
    std::string line;
    for (const Field& f : record.fields) line += (line.empty() ? "\"" : ",\"") + f.value + "\"";
    return line;
  }
  std::string line(layout.width, ' ');
  for (const Field& f : record.fields) {
    line.replace(f.def->column - 1, std::min(f.value.size(), f.def->width), f.value, 0,
                 std::min(f.value.size(), f.def->width));
  }
  return line;
}

std::string EncodeFile(const DecodedFile& file) {
  std::string out;
  const std::string end = LineEnd(file.layout->quoted() ? Framing::kCrLf : file.framing);
  for (const Record& r : file.records) out += EncodeRecord(*file.layout, r) + end;
  return out;
}

Recognition RecogniseLayout(std::string_view bytes) {
  FileFacts facts;
  facts.size = bytes.size();
  facts.first_byte = bytes.empty() ? -1 : static_cast<unsigned char>(bytes.front());
  if (size_t lf = bytes.find('\n'); lf != std::string_view::npos) {
    facts.has_line_feed = true;
    facts.first_line_length = lf > 0 && bytes[lf - 1] == '\r' ? lf - 1 : lf;
  }
  facts.clean_records = [bytes](const Layout& l) {
    DecodedFile f = DecodeFile(bytes, l);
    return f.records.size() - f.bad_records();
  };
  return RecogniseLayout(facts);
}

Recognition RecogniseLayout(const FileFacts& facts) {
  if (facts.size == 0) return {nullptr, "an empty file: name its layout with --function"};
  if (facts.first_byte == '"') return {FindLayout("IDSTAMM"), ""};
  std::vector<const Layout*> fixed;
  for (const Layout& l : AllLayouts()) {
    if (!l.quoted()) fixed.push_back(&l);
  }
  if (facts.has_line_feed) {
    size_t len = facts.first_line_length;
    for (const Layout* l : fixed) {
      if (l->width == len) return {l, ""};
    }
    return {nullptr,
            "the first line has " + std::to_string(len) + " characters, which no layout has"};
  }
  // A plain sequence of records: the layouts whose width divides the size
  // and that read every record without a fault. Failing that, the layout
  // that reads the most records without a fault (those whose width divides
  // the size first), so that a file with faults is still shown.
  struct Candidate {
    const Layout* layout;
    bool divides;
    size_t clean;
  };
  std::vector<Candidate> cs;
  for (const Layout* l : fixed) {
    cs.push_back({l, facts.size % l->width == 0, facts.clean_records(*l)});
  }
  std::vector<const Layout*> clean;
  for (const Candidate& c : cs) {
    if (c.divides && c.clean * c.layout->width == facts.size) clean.push_back(c.layout);
  }
  if (clean.size() == 1) return {clean[0], ""};
  if (clean.size() > 1) {
    return {nullptr, "the file reads as " + Names(clean) + ": name its layout with --function"};
  }
  std::stable_sort(cs.begin(), cs.end(), [](const Candidate& a, const Candidate& b) {
    return a.clean != b.clean ? a.clean > b.clean : a.divides && !b.divides;
  });
  const Candidate& best = cs[0];
  const bool tie = cs.size() > 1 && cs[1].clean == best.clean && cs[1].divides == best.divides;
  if ((best.clean > 0 || best.divides) && !tie) return {best.layout, ""};
  return {nullptr, std::to_string(facts.size) +
                       " characters that no layout reads: name its layout with --function"};
}

std::string DisplayValue(const Layout& layout, const Field& field) {
  return layout.quoted() ? field.value : Trim(field.value);
}

RecordKey KeyOf(const Layout& layout, const Record& record) {
  RecordKey k;
  for (const Field& f : record.fields) {
    if (f.def->name == "badge") k.badge = DisplayValue(layout, f);
    if (f.def->name == "valid_from") k.valid_from = DisplayValue(layout, f);
  }
  return k;
}

}  // namespace plom::layouts
