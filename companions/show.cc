#include "companions/show.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/options.h"
#include "db/codepage.h"
#include "platform/files.h"
#include "version.h"

namespace plom::show {
namespace {

using layouts::DecodedFile;
using layouts::Field;
using layouts::Layout;
using layouts::Record;
using layouts::RecordKey;
using Json = nlohmann::ordered_json;

constexpr char kUsage[] =
    "Usage: plomvarde-show [--function F] [--badge B] [--tsv | --json] FILE\n"
    "       plomvarde-show [--function F] [--tsv | --json] --diff OLD NEW\n"
    "       plomvarde-show --help | --version\n"
    "Shows the records of a download file field by field, or what changed\n"
    "between two download files of one layout. F: VQDNL17P, VQDNL31P, VQDNL18P,\n"
    "VQDNL60P or IDSTAMM, for a file whose layout cannot be told (an empty file).\n"
    "A FILE of - is read from standard input. Exit status: 0 every record fits,\n"
    "65 a record does not fit, 66 a file cannot be read, 64 a wrong command line;\n"
    "with --diff 0 the same, 1 different, 2 trouble.\n";

struct Options {
  std::string function;
  std::string badge;  // Windows-1252, as every argument
  bool has_badge = false;
  Format format = Format::kTable;
  bool diff = false;
  bool version = false;
  std::vector<std::string> files;
};

// A text of the file for output: UTF-8, control characters as "?" so that
// a table or a TSV line is never broken by the data.
std::string Out(std::string_view cp1252) {
  std::string s(cp1252);
  for (char& c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return Cp1252ToUtf8(s);
}

// Where output goes: a text, or a stream written as it comes (the program's
// standard output and error), so that nothing of the file piles up.
class Sink {
 public:
  explicit Sink(std::string* text) : text_(text) {}
  explicit Sink(FILE* file) : file_(file) {}
  Sink& operator+=(std::string_view s) {
    if (text_ != nullptr) {
      text_->append(s);
    } else {
      std::fwrite(s.data(), 1, s.size(), file_);
    }
    return *this;
  }

 private:
  std::string* text_ = nullptr;
  FILE* file_ = nullptr;
};

// The longest line read whole; the rest of a longer one is skipped, so that
// a file without line breaks costs no more memory than one record.
constexpr size_t kMaxLine = 65536;
// --diff compares files in key order (as the tool writes them) as streams;
// files that are not, it holds whole, up to this size each.
constexpr uint64_t kMaxDiffBytes = 32u << 20;

// A download file read record by record as layouts::DecodeFile splits it,
// with one record in memory at a time; read again from the start for each
// pass over it.
class RecordStream {
 public:
  RecordStream() = default;
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;
  ~RecordStream() {
    if (f_ != nullptr) std::fclose(f_);
  }

  // Opens the file ("-": standard input, kept in a temporary file to be
  // read again) and reads it once through for what telling its layout
  // needs. False when it cannot be read.
  bool Open(const std::string& path) {
    f_ = path == "-" ? CopyOfStandardInput() : std::fopen(HostPath(path).c_str(), "rb");
    if (f_ == nullptr) return false;
    char buf[65536];
    bool in_first = true;
    char last = 0;
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f_)) > 0; size_ += n) {
      if (size_ == 0) facts_.first_byte = static_cast<unsigned char>(buf[0]);
      if (!in_first) continue;
      const char* lf = static_cast<const char*>(std::memchr(buf, '\n', n));
      size_t upto = lf != nullptr ? static_cast<size_t>(lf - buf) : n;
      if (upto > 0) last = buf[upto - 1];
      facts_.first_line_length += upto;
      if (lf != nullptr) {
        in_first = false;
        facts_.has_line_feed = true;
        first_crlf_ = facts_.first_line_length > 0 && last == '\r';
        if (first_crlf_) --facts_.first_line_length;
      }
    }
    facts_.size = size_;
    return std::ferror(f_) == 0;
  }
  uint64_t size() const { return size_; }

  layouts::Recognition Recognise() {
    layouts::FileFacts facts = facts_;
    facts.clean_records = [this](const Layout& l) {
      size_t clean = 0;
      Record r;
      for (Start(l); Next(&r);) clean += r.problems.empty() ? 1 : 0;
      return clean;
    };
    return layouts::RecogniseLayout(facts);
  }

  // Goes back to the first record, to read the file with the layout.
  void Start(const Layout& layout) {
    layout_ = &layout;
    std::rewind(f_);
    at_ = held_ = 0;
    line_ = 0;
    by_lines_ = layout.quoted() || facts_.has_line_feed;
    crlf_ = layout.quoted() || first_crlf_;
  }

  // The next record; false after the last.
  bool Next(Record* r) {
    if (!by_lines_) {
      std::string piece(layout_->width, '\0');
      size_t n = 0;
      for (int c; n < piece.size() && (c = Byte()) != EOF;) piece[n++] = static_cast<char>(c);
      if (n == 0) return false;
      *r = layouts::DecodeRecord(*layout_, std::string_view(piece.data(), n), ++line_);
      return true;
    }
    std::string text;
    bool ended = false, cut = false;
    char last = 0;
    for (int c; (c = Byte()) != EOF;) {
      if (c == '\n') {
        ended = true;
        break;
      }
      if (text.size() < kMaxLine) {
        text.push_back(static_cast<char>(c));
      } else {
        cut = true;
      }
      last = static_cast<char>(c);
    }
    if (!ended && !cut && text.empty()) return false;
    bool crlf = ended && last == '\r';
    if (crlf && !cut) text.pop_back();
    *r = layouts::DecodeRecord(*layout_, text, ++line_);
    if (cut) {
      r->problems.push_back("the line is longer than " + std::to_string(kMaxLine) +
                            " characters; only its start is read");
    }
    if (crlf_ ? !crlf : !ended || crlf) {
      r->problems.push_back(std::string("the line does not end in ") + (crlf_ ? "CR LF" : "LF"));
    }
    return true;
  }

 private:
  static FILE* CopyOfStandardInput() {
    FILE* copy = std::tmpfile();
    if (copy == nullptr) return nullptr;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) {
      if (std::fwrite(buf, 1, n, copy) != n) break;
    }
    if (std::ferror(stdin) != 0 || std::ferror(copy) != 0) {
      std::fclose(copy);
      return nullptr;
    }
    std::rewind(copy);
    return copy;
  }

  // The next byte of the file, EOF after the last.
  int Byte() {
    if (at_ == held_) {
      held_ = std::fread(buf_.data(), 1, buf_.size(), f_);
      at_ = 0;
      if (held_ == 0) return EOF;
    }
    return static_cast<unsigned char>(buf_[at_++]);
  }

  FILE* f_ = nullptr;
  std::vector<char> buf_ = std::vector<char>(65536);
  size_t at_ = 0, held_ = 0;
  uint64_t size_ = 0;
  layouts::FileFacts facts_;
  bool first_crlf_ = false;
  const Layout* layout_ = nullptr;
  size_t line_ = 0;
  bool by_lines_ = false, crlf_ = false;
};

// Opens the file and tells its layout (the one named, when named); on
// failure says why in err and returns the exit status of the failure
// (kShowNoInput, kShowBadData), else kShowOk. *layout stays nullptr for an
// empty file whose layout was not named.
int OpenFile(const std::string& path, const Layout* named, RecordStream* s, const Layout** layout,
             Sink& err) {
  if (!s->Open(path)) {
    err += "plomvarde-show: " + Out(path) + ": cannot be read: " + Out(std::strerror(errno)) + "\n";
    return kShowNoInput;
  }
  *layout = named;
  if (named == nullptr && s->size() > 0) {
    layouts::Recognition r = s->Recognise();
    if (r.layout == nullptr) {
      err += "plomvarde-show: " + path + ": " + Out(r.reason) + "\n";
      return kShowBadData;
    }
    *layout = r.layout;
  }
  return kShowOk;
}

// "path:line: what is wrong" for each fault of the records.
void ReportProblems(const std::string& path, const Record& r, Sink& to) {
  for (const std::string& p : r.problems) {
    to += path + ":" + std::to_string(r.line) + ": " + Out(p) + "\n";
  }
}

// ---- showing one file ----

// Aligned columns; widths count characters of the file (one byte each).
// Each row is measured first, then printed: the rows need not be held.
class Table {
 public:
  void Measure(const std::vector<std::string>& row) {
    width_.resize(std::max(width_.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) width_[i] = std::max(width_[i], row[i].size());
  }
  std::string Line(const std::vector<std::string>& row) const {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += Out(row[i]);
      if (i + 1 < row.size()) line += std::string(width_[i] - row[i].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
  }
  // For tables small enough to hold: every row measured, then rendered.
  void Row(std::vector<std::string> cells_cp1252) {
    Measure(cells_cp1252);
    rows_.push_back(std::move(cells_cp1252));
  }
  std::string Render() const {
    std::string out;
    for (const auto& row : rows_) out += Line(row);
    return out;
  }

 private:
  std::vector<size_t> width_;
  std::vector<std::vector<std::string>> rows_;
};

std::vector<std::string> Header(const Layout& layout) {
  std::vector<std::string> h{"line"};
  for (const auto& f : layout.fields) h.push_back(f.name);
  return h;
}

std::vector<std::string> Cells(const Layout& layout, const Record& r) {
  std::vector<std::string> cells{std::to_string(r.line)};
  for (const Field& f : r.fields) cells.push_back(layouts::DisplayValue(layout, f));
  return cells;
}

Json RecordJson(const Layout& layout, const Record& r) {
  Json fields = Json::object();
  for (const Field& f : r.fields) fields[f.def->name] = Out(layouts::DisplayValue(layout, f));
  Json problems = Json::array();
  for (const std::string& p : r.problems) problems.push_back(Out(p));
  return Json{{"line", r.line}, {"fields", fields}, {"problems", problems}};
}

// Each line of text indented by n blanks.
std::string Indented(const std::string& text, size_t n) {
  std::string out(n, ' ');
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(n, ' ');
  }
  return out;
}

// Shows the records of one file, reading it as a stream once per pass: the
// table measures its columns first and prints them after.
int Show(const Options& o, const Layout* named, Sink& out, Sink& err) {
  const std::string& path = o.files[0];
  RecordStream s;
  const Layout* layout = nullptr;
  if (int st = OpenFile(path, named, &s, &layout, err); st != kShowOk) return st;
  const std::string& badge = o.badge;
  // Visits the records shown (all, or those of --badge).
  auto each = [&](const std::function<void(const Record&)>& visit) {
    if (layout == nullptr) return;
    Record r;
    for (s.Start(*layout); s.Next(&r);) {
      if (!o.has_badge || layouts::KeyOf(*layout, r).badge == badge) visit(r);
    }
  };
  // The records shown decide: with --badge, a fault elsewhere does not count.
  bool bad = false;
  switch (o.format) {
    case Format::kTable: {
      size_t records = 0;
      if (layout != nullptr) {
        Record r;
        for (s.Start(*layout); s.Next(&r);) ++records;
      }
      out += path + ": " + (layout ? layout->function : std::string("(layout unknown)")) + ", " +
             std::to_string(records) + " records\n";
      Table t;
      size_t shown = 0;
      each([&](const Record& r) {
        t.Measure(Cells(*layout, r));
        ++shown;
      });
      if (shown == 0) break;
      t.Measure(Header(*layout));
      out += t.Line(Header(*layout));
      each([&](const Record& r) { out += t.Line(Cells(*layout, r)); });
      each([&](const Record& r) {
        for (const std::string& p : r.problems) {
          out += (bad ? "" : "\n") + std::string("line ") + std::to_string(r.line) + ": " + Out(p) +
                 "\n";
          bad = true;
        }
      });
      break;
    }
    case Format::kTsv: {
      if (layout == nullptr) break;
      auto join = [](const std::vector<std::string>& cells) {
        std::string line;
        for (const auto& c : cells) line += (line.empty() ? "" : "\t") + Out(c);
        return line + "\n";
      };
      out += join(Header(*layout));
      each([&](const Record& r) {
        out += join(Cells(*layout, r));
        ReportProblems(path, r, err);
        bad = bad || !r.problems.empty();
      });
      break;
    }
    case Format::kJson: {
      out += "{\n  \"file\": " + Json(Out(path)).dump() +
             ",\n  \"function\": " + (layout ? Json(layout->function) : Json(nullptr)).dump() +
             ",\n  \"records\": ";
      bool any = false;
      each([&](const Record& r) {
        out += any ? ",\n" : "[\n";
        any = true;
        out += Indented(RecordJson(*layout, r).dump(2), 4);
        bad = bad || !r.problems.empty();
      });
      out += any ? "\n  ]\n}\n" : "[]\n}\n";
      break;
    }
  }
  return bad ? kShowBadData : kShowOk;
}

// ---- comparing two files ----

std::map<RecordKey, std::vector<const Record*>> ByKey(const DecodedFile& f) {
  std::map<RecordKey, std::vector<const Record*>> m;
  for (const Record& r : f.records) m[layouts::KeyOf(*f.layout, r)].push_back(&r);
  return m;
}

Change Pair(const RecordKey& key, const Record* o, const Record* n) {
  Change c;
  c.kind = Change::kChanged;
  c.key = key;
  c.old_record = o;
  c.new_record = n;
  c.old_line = o ? o->line : 0;
  c.new_line = n ? n->line : 0;
  if (o == nullptr) c.kind = Change::kAdded;
  if (n == nullptr) c.kind = Change::kRemoved;
  if (o == nullptr || n == nullptr) return c;
  for (size_t i = 0; i < o->fields.size() && i < n->fields.size(); ++i) {
    if (o->fields[i].value != n->fields[i].value) {
      c.fields.push_back({o->fields[i].def->name, o->fields[i].value, n->fields[i].value});
    }
  }
  return c;
}

// The changes of a comparison, visited in key order; called once per pass
// of the output over them.
using ChangeVisitor = std::function<void(const Change&)>;
using Changes = std::function<void(const ChangeVisitor&)>;

// What the output says of the two files besides their changes.
struct DiffHead {
  std::string old_path, new_path;
  const Layout* layout = nullptr;
  size_t old_records = 0, new_records = 0, unchanged = 0;
};

const char* const kKinds[] = {"added", "removed", "changed"};

void DiffTable(const DiffHead& h, const Changes& changes, Sink& out) {
  out += "old: " + h.old_path + ", " + std::to_string(h.old_records) +
         " records\nnew: " + h.new_path + ", " + std::to_string(h.new_records) + " records (" +
         h.layout->function + ")\n";
  Table t;
  // The rows of a change; measured on the first pass, printed on the second.
  auto rows = [](const Change& c, const std::function<void(const std::vector<std::string>&)>& row) {
    std::string lines = c.kind == Change::kAdded     ? "new line " + std::to_string(c.new_line)
                        : c.kind == Change::kRemoved ? "old line " + std::to_string(c.old_line)
                                                     : "lines " + std::to_string(c.old_line) +
                                                           " / " + std::to_string(c.new_line);
    row({kKinds[c.kind], c.key.badge, c.key.valid_from, lines});
    for (const auto& f : c.fields) {
      row({"", "  " + f.name, "'" + f.old_value + "'", "-> '" + f.new_value + "'"});
    }
  };
  changes(
      [&](const Change& c) { rows(c, [&](const std::vector<std::string>& r) { t.Measure(r); }); });
  changes([&](const Change& c) {
    rows(c, [&](const std::vector<std::string>& r) { out += t.Line(r); });
  });
  out += "unchanged: " + std::to_string(h.unchanged) + "\n";
}

void DiffTsv(const Changes& changes, Sink& out) {
  out += "change\tbadge\tvalid_from\told_line\tnew_line\tfield\told\tnew\n";
  changes([&](const Change& c) {
    std::string head = std::string(kKinds[c.kind]) + "\t" + Out(c.key.badge) + "\t" +
                       Out(c.key.valid_from) + "\t" + std::to_string(c.old_line) + "\t" +
                       std::to_string(c.new_line);
    if (c.fields.empty()) out += head + "\t\t\t\n";
    for (const auto& f : c.fields) {
      out += head + "\t" + f.name + "\t" + Out(f.old_value) + "\t" + Out(f.new_value) + "\n";
    }
  });
}

Json ChangeJson(const Layout& layout, const Change& c) {
  Json key{{"badge", Out(c.key.badge)}, {"valid_from", Out(c.key.valid_from)}};
  if (c.kind == Change::kAdded) {
    key["line"] = c.new_line;
    key["fields"] = RecordJson(layout, *c.new_record)["fields"];
  } else if (c.kind == Change::kRemoved) {
    key["line"] = c.old_line;
    key["fields"] = RecordJson(layout, *c.old_record)["fields"];
  } else {
    key["old_line"] = c.old_line;
    key["new_line"] = c.new_line;
    Json fields = Json::object();
    for (const auto& f : c.fields) {
      fields[f.name] = Json{{"old", Out(f.old_value)}, {"new", Out(f.new_value)}};
    }
    key["fields"] = fields;
  }
  return key;
}

// The document as one JSON value would print it (indent 2), one array of
// changes after the other, each change printed as it comes.
void DiffJson(const DiffHead& h, const Changes& changes, Sink& out) {
  out += "{\n  \"old\": " + Json(Out(h.old_path)).dump() +
         ",\n  \"new\": " + Json(Out(h.new_path)).dump() +
         ",\n  \"function\": " + Json(h.layout->function).dump();
  for (int kind : {Change::kAdded, Change::kRemoved, Change::kChanged}) {
    out += ",\n  \"" + std::string(kKinds[kind]) + "\": ";
    bool any = false;
    changes([&](const Change& c) {
      if (c.kind != kind) return;
      out += any ? ",\n" : "[\n";
      any = true;
      out += Indented(ChangeJson(*h.layout, c).dump(2), 4);
    });
    out += any ? "\n  ]" : "[]";
  }
  out += ",\n  \"unchanged\": " + std::to_string(h.unchanged) + "\n}\n";
}

// The records of one key that follow each other in a file, read ahead by
// one record.
class KeyGroups {
 public:
  KeyGroups(RecordStream& s, const Layout& layout) : s_(s), layout_(layout) {
    s_.Start(layout);
    more_ = s_.Next(&next_);
  }
  // The next group; false after the last, or when the file is not in key
  // order (*out_of_order).
  bool Next(std::vector<Record>* group, RecordKey* key, bool* out_of_order) {
    group->clear();
    if (!more_) return false;
    *key = layouts::KeyOf(layout_, next_);
    if (started_ && !(last_ < *key)) {
      *out_of_order = true;
      return false;
    }
    started_ = true;
    last_ = *key;
    while (more_ && layouts::KeyOf(layout_, next_) == *key) {
      group->push_back(std::move(next_));
      more_ = s_.Next(&next_);
    }
    return true;
  }

 private:
  RecordStream& s_;
  const Layout& layout_;
  Record next_;
  bool more_ = false, started_ = false;
  RecordKey last_;
};

// Compares two files in key order (as the tool writes them) as streams,
// holding only the records of one key of each; pairs and visits as Compare
// does. False when a file is not in key order (*disorderly: which one).
bool MergeCompare(RecordStream& o, RecordStream& n, const Layout& layout, DiffHead* h,
                  const ChangeVisitor& visit, RecordStream** disorderly = nullptr) {
  KeyGroups og(o, layout), ng(n, layout);
  std::vector<Record> ov, nv;
  RecordKey ok, nk;
  bool o_disorder = false, n_disorder = false;
  bool has_o = og.Next(&ov, &ok, &o_disorder), has_n = ng.Next(&nv, &nk, &n_disorder);
  bool disorder = o_disorder || n_disorder;
  h->old_records = h->new_records = h->unchanged = 0;
  while (!disorder && (has_o || has_n)) {
    bool take_o = has_o && (!has_n || !(nk < ok));
    bool take_n = has_n && (!has_o || !(ok < nk));
    const std::vector<Record> none;
    const std::vector<Record>& a = take_o ? ov : none;
    const std::vector<Record>& b = take_n ? nv : none;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
      Change c =
          Pair(take_o ? ok : nk, i < a.size() ? &a[i] : nullptr, i < b.size() ? &b[i] : nullptr);
      if (c.kind == Change::kChanged && c.fields.empty()) {
        ++h->unchanged;
      } else {
        visit(c);
      }
    }
    h->old_records += a.size();
    h->new_records += b.size();
    if (take_o) has_o = og.Next(&ov, &ok, &o_disorder);
    if (take_n) has_n = ng.Next(&nv, &nk, &n_disorder);
    disorder = o_disorder || n_disorder;
  }
  if (disorderly != nullptr) *disorderly = o_disorder ? &o : &n;
  return !o_disorder && !n_disorder;
}

int Diff(const Options& opt, const Layout* named, Sink& out, Sink& err) {
  RecordStream o, n;
  const Layout *ol = nullptr, *nl = nullptr;
  if (OpenFile(opt.files[0], named, &o, &ol, err) != kShowOk) return kDiffTrouble;
  if (OpenFile(opt.files[1], named, &n, &nl, err) != kShowOk) return kDiffTrouble;
  // An empty file is a file of the other's layout.
  const Layout* layout = ol ? ol : nl;
  if (layout == nullptr) {
    out += opt.format == Format::kTable ? "unchanged: 0\n" : "";
    return kDiffSame;
  }
  if (ol && nl && ol != nl) {
    err += "plomvarde-show: " + opt.files[0] + " is " + ol->function + ", " + opt.files[1] +
           " is " + nl->function + ": files of different layouts\n";
    return kDiffTrouble;
  }
  bool bad = false;
  for (auto [s, path] : {std::pair{&o, &opt.files[0]}, std::pair{&n, &opt.files[1]}}) {
    Record r;
    for (s->Start(*layout); s->Next(&r);) {
      ReportProblems(*path, r, err);
      bad = bad || !r.problems.empty();
    }
  }
  if (bad) return kDiffTrouble;

  DiffHead h;
  h.old_path = opt.files[0];
  h.new_path = opt.files[1];
  h.layout = layout;
  bool any = false;
  Changes changes;
  Comparison held;  // files not in key order, compared whole
  RecordStream* disorderly = nullptr;
  if (MergeCompare(
          o, n, *layout, &h, [&](const Change&) { any = true; }, &disorderly)) {
    changes = [&](const ChangeVisitor& visit) {
      DiffHead again;
      MergeCompare(o, n, *layout, &again, visit);
    };
  } else {
    // Both are held whole then.
    if (o.size() > kMaxDiffBytes || n.size() > kMaxDiffBytes) {
      err += "plomvarde-show: " + (disorderly == &o ? opt.files[0] : opt.files[1]) +
             " is not in the order of its records, and --diff holds such files whole only up "
             "to " +
             std::to_string(kMaxDiffBytes >> 20) +
             " MB each: compare what --tsv shows of each "
             "with diff\n";
      return kDiffTrouble;
    }
    DecodedFile of, nf;
    of.layout = nf.layout = layout;
    Record r;
    for (o.Start(*layout); o.Next(&r);) of.records.push_back(std::move(r));
    for (n.Start(*layout); n.Next(&r);) nf.records.push_back(std::move(r));
    held = Compare(of, nf);
    h.old_records = of.records.size();
    h.new_records = nf.records.size();
    h.unchanged = held.unchanged;
    any = !held.changes.empty();
    changes = [&](const ChangeVisitor& visit) {
      for (const Change& c : held.changes) visit(c);
    };
  }
  switch (opt.format) {
    case Format::kTable:
      DiffTable(h, changes, out);
      break;
    case Format::kTsv:
      DiffTsv(changes, out);
      break;
    case Format::kJson:
      DiffJson(h, changes, out);
      break;
  }
  return any ? kDiffDifferent : kDiffSame;
}

// ---- command line ----

bool Parse(const std::vector<std::string>& args, Options* o, std::string* err, bool* help) {
  static const std::vector<cli::OptionDef> kOptionDefs = {{"function", 0, true},
                                                          {"badge", 0, true},
                                                          {"tsv", 0, false},
                                                          {"json", 0, false},
                                                          {"diff", 0, false}};
  cli::CommandLine cl;
  if (!cli::Parse(args, kOptionDefs, &cl)) {
    *err += "plomvarde-show: " + Out(cl.error) + "\n";
    o->diff = cl.Has("diff");
    return false;
  }
  if (cl.help) {
    *help = true;
    return true;
  }
  if (cl.version) {
    o->version = true;
    return true;
  }
  int formats = 0;
  for (const auto& [name, value] : cl.options) {
    if (name == "function") {
      o->function = value;
    } else if (name == "badge") {
      o->badge = value;
      o->has_badge = true;
    } else if (name == "tsv") {
      o->format = Format::kTsv;
      ++formats;
    } else if (name == "json") {
      o->format = Format::kJson;
      ++formats;
    } else if (name == "diff") {
      o->diff = true;
    }
  }
  o->files = cl.operands;
  if (formats > 1) {
    *err += "plomvarde-show: --tsv and --json exclude each other\n";
    return false;
  }
  if (o->diff && o->has_badge) {
    *err += "plomvarde-show: --badge does not go with --diff\n";
    return false;
  }
  if (o->files.size() != (o->diff ? 2u : 1u)) {
    *err += o->diff ? "plomvarde-show: --diff takes two files\n" : "plomvarde-show: one file\n";
    return false;
  }
  return true;
}

}  // namespace

Comparison Compare(const DecodedFile& old_file, const DecodedFile& new_file) {
  auto olds = ByKey(old_file);
  auto news = ByKey(new_file);
  std::map<RecordKey, int> keys;
  for (const auto& [k, v] : olds) keys[k] = 0;
  for (const auto& [k, v] : news) keys[k] = 0;
  Comparison cmp;
  static const std::vector<const Record*> kNone;
  for (const auto& [key, unused] : keys) {
    const auto& o = olds.count(key) ? olds.at(key) : kNone;
    const auto& n = news.count(key) ? news.at(key) : kNone;
    for (size_t i = 0; i < std::max(o.size(), n.size()); ++i) {
      Change c = Pair(key, i < o.size() ? o[i] : nullptr, i < n.size() ? n[i] : nullptr);
      if (c.kind == Change::kChanged && c.fields.empty()) {
        ++cmp.unchanged;
      } else {
        cmp.changes.push_back(std::move(c));
      }
    }
  }
  return cmp;
}

namespace {

int RunShow(const std::vector<std::string>& args, Sink& out, Sink& err) {
  Options o;
  bool help = false;
  std::string refused;
  if (!Parse(args, &o, &refused, &help)) {
    err += refused + kUsage;
    return kShowUsage;
  }
  if (help) {
    out += kUsage;
    return kShowOk;
  }
  if (o.version) {
    out += std::string("plomvarde-show ") + PLOM_VERSION + "\n";
    return kShowOk;
  }
  const Layout* named = nullptr;
  if (!o.function.empty()) {
    named = layouts::FindLayout(o.function);
    if (named == nullptr) {
      err += "plomvarde-show: unknown download function " + Out(o.function) + "\n" + kUsage;
      return kShowUsage;
    }
  }
  return o.diff ? Diff(o, named, out, err) : Show(o, named, out, err);
}

}  // namespace

int RunShow(const std::vector<std::string>& args, std::string* out, std::string* err) {
  Sink o(out), e(err);
  return RunShow(args, o, e);
}

int RunShow(const std::vector<std::string>& args, FILE* out, FILE* err) {
  Sink o(out), e(err);
  return RunShow(args, o, e);
}

}  // namespace plom::show
