#include "companions/show.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
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

bool ReadBytes(const std::string& path, std::string* bytes) {
  bool in = path == "-";
  FILE* f = in ? stdin : std::fopen(HostPath(path).c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
  bool ok = std::ferror(f) == 0;
  if (!in) std::fclose(f);
  return ok;
}

// A file read and decoded. layout stays nullptr for an empty file whose
// layout was not named.
struct Loaded {
  std::string path;
  std::string bytes;
  DecodedFile file;
};

// Reads and decodes the file; on failure says why in err and returns the
// exit status of the failure (kShowNoInput, kShowBadData), else kShowOk.
int Load(const std::string& path, const Layout* named, Loaded* l, std::string* err) {
  l->path = path;
  if (!ReadBytes(path, &l->bytes)) {
    *err +=
        "plomvarde-show: " + Out(path) + ": cannot be read: " + Out(std::strerror(errno)) + "\n";
    return kShowNoInput;
  }
  const Layout* layout = named;
  if (layout == nullptr && !l->bytes.empty()) {
    layouts::Recognition r = layouts::RecogniseLayout(l->bytes);
    if (r.layout == nullptr) {
      *err += "plomvarde-show: " + path + ": " + Out(r.reason) + "\n";
      return kShowBadData;
    }
    layout = r.layout;
  }
  if (layout != nullptr) l->file = layouts::DecodeFile(l->bytes, *layout);
  return kShowOk;
}

// "path:line: what is wrong" for each fault of the records.
void ReportProblems(const std::string& path, const std::vector<const Record*>& rs,
                    std::string* to) {
  for (const Record* r : rs) {
    for (const std::string& p : r->problems) {
      *to += path + ":" + std::to_string(r->line) + ": " + Out(p) + "\n";
    }
  }
}

std::vector<const Record*> AllRecords(const DecodedFile& f) {
  std::vector<const Record*> rs;
  for (const Record& r : f.records) rs.push_back(&r);
  return rs;
}

std::string FunctionName(const DecodedFile& f) {
  return f.layout ? f.layout->function : std::string("(layout unknown)");
}

// ---- showing one file ----

// Aligned columns; widths count characters of the file (one byte each).
class Table {
 public:
  void Row(std::vector<std::string> cells_cp1252) { rows_.push_back(std::move(cells_cp1252)); }
  std::string Render() const {
    std::vector<size_t> width;
    for (const auto& row : rows_) {
      width.resize(std::max(width.size(), row.size()));
      for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows_) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        line += Out(row[i]);
        if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
      }
      line.erase(line.find_last_not_of(' ') + 1);
      out += line + "\n";
    }
    return out;
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};

std::vector<const Record*> Selected(const Loaded& l, const Options& o) {
  std::vector<const Record*> out;
  const std::string& badge = o.badge;
  for (const Record& r : l.file.records) {
    if (o.has_badge && layouts::KeyOf(*l.file.layout, r).badge != badge) continue;
    out.push_back(&r);
  }
  return out;
}

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

std::string ShowTable(const Loaded& l, const std::vector<const Record*>& rs) {
  std::string out = l.path + ": " + FunctionName(l.file) + ", " +
                    std::to_string(l.file.records.size()) + " records\n";
  if (l.file.layout == nullptr || rs.empty()) return out;
  Table t;
  t.Row(Header(*l.file.layout));
  for (const Record* r : rs) t.Row(Cells(*l.file.layout, *r));
  out += t.Render();
  bool first = true;
  for (const Record* r : rs) {
    for (const std::string& p : r->problems) {
      out += (first ? "\n" : "") + std::string("line ") + std::to_string(r->line) + ": " + Out(p) +
             "\n";
      first = false;
    }
  }
  return out;
}

std::string ShowTsv(const Loaded& l, const std::vector<const Record*>& rs) {
  if (l.file.layout == nullptr) return {};
  auto join = [](const std::vector<std::string>& cells) {
    std::string line;
    for (const auto& c : cells) line += (line.empty() ? "" : "\t") + Out(c);
    return line + "\n";
  };
  std::string out = join(Header(*l.file.layout));
  for (const Record* r : rs) out += join(Cells(*l.file.layout, *r));
  return out;
}

Json RecordJson(const Layout& layout, const Record& r) {
  Json fields = Json::object();
  for (const Field& f : r.fields) fields[f.def->name] = Out(layouts::DisplayValue(layout, f));
  Json problems = Json::array();
  for (const std::string& p : r.problems) problems.push_back(Out(p));
  return Json{{"line", r.line}, {"fields", fields}, {"problems", problems}};
}

std::string ShowJson(const Loaded& l, const std::vector<const Record*>& rs) {
  Json records = Json::array();
  for (const Record* r : rs) records.push_back(RecordJson(*l.file.layout, *r));
  Json doc{{"file", Out(l.path)},
           {"function", l.file.layout ? Json(l.file.layout->function) : Json(nullptr)},
           {"records", records}};
  return doc.dump(2) + "\n";
}

int Show(const Options& o, const Layout* named, std::string* out, std::string* err) {
  Loaded l;
  if (int st = Load(o.files[0], named, &l, err); st != kShowOk) return st;
  std::vector<const Record*> rs = l.file.layout ? Selected(l, o) : std::vector<const Record*>{};
  switch (o.format) {
    case Format::kTable:
      *out += ShowTable(l, rs);
      break;
    case Format::kTsv:
      *out += ShowTsv(l, rs);
      ReportProblems(l.path, rs, err);
      break;
    case Format::kJson:
      *out += ShowJson(l, rs);
      break;
  }
  // The records shown decide: with --badge, a fault elsewhere does not count.
  bool bad =
      std::any_of(rs.begin(), rs.end(), [](const Record* r) { return !r->problems.empty(); });
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

std::string DiffTable(const Loaded& o, const Loaded& n, const Comparison& cmp) {
  const Layout& layout = *(o.file.layout ? o.file.layout : n.file.layout);
  std::string out = "old: " + o.path + ", " + std::to_string(o.file.records.size()) +
                    " records\nnew: " + n.path + ", " + std::to_string(n.file.records.size()) +
                    " records (" + layout.function + ")\n";
  Table t;
  const char* kinds[] = {"added", "removed", "changed"};
  for (const Change& c : cmp.changes) {
    std::string lines = c.kind == Change::kAdded     ? "new line " + std::to_string(c.new_line)
                        : c.kind == Change::kRemoved ? "old line " + std::to_string(c.old_line)
                                                     : "lines " + std::to_string(c.old_line) +
                                                           " / " + std::to_string(c.new_line);
    t.Row({kinds[c.kind], c.key.badge, c.key.valid_from, lines});
    for (const auto& f : c.fields) {
      t.Row({"", "  " + f.name, "'" + f.old_value + "'", "-> '" + f.new_value + "'"});
    }
  }
  out += t.Render();
  out += "unchanged: " + std::to_string(cmp.unchanged) + "\n";
  return out;
}

std::string DiffTsv(const Comparison& cmp) {
  std::string out = "change\tbadge\tvalid_from\told_line\tnew_line\tfield\told\tnew\n";
  const char* kinds[] = {"added", "removed", "changed"};
  for (const Change& c : cmp.changes) {
    std::string head = std::string(kinds[c.kind]) + "\t" + Out(c.key.badge) + "\t" +
                       Out(c.key.valid_from) + "\t" + std::to_string(c.old_line) + "\t" +
                       std::to_string(c.new_line);
    if (c.fields.empty()) out += head + "\t\t\t\n";
    for (const auto& f : c.fields) {
      out += head + "\t" + f.name + "\t" + Out(f.old_value) + "\t" + Out(f.new_value) + "\n";
    }
  }
  return out;
}

std::string DiffJson(const Loaded& o, const Loaded& n, const Comparison& cmp) {
  const Layout& layout = *(o.file.layout ? o.file.layout : n.file.layout);
  Json added = Json::array(), removed = Json::array(), changed = Json::array();
  for (const Change& c : cmp.changes) {
    Json key{{"badge", Out(c.key.badge)}, {"valid_from", Out(c.key.valid_from)}};
    if (c.kind == Change::kAdded) {
      key["line"] = c.new_line;
      key["fields"] = RecordJson(layout, *c.new_record)["fields"];
      added.push_back(key);
    } else if (c.kind == Change::kRemoved) {
      key["line"] = c.old_line;
      key["fields"] = RecordJson(layout, *c.old_record)["fields"];
      removed.push_back(key);
    } else {
      key["old_line"] = c.old_line;
      key["new_line"] = c.new_line;
      Json fields = Json::object();
      for (const auto& f : c.fields) {
        fields[f.name] = Json{{"old", Out(f.old_value)}, {"new", Out(f.new_value)}};
      }
      key["fields"] = fields;
      changed.push_back(key);
    }
  }
  Json doc{
      {"old", Out(o.path)}, {"new", Out(n.path)}, {"function", layout.function}, {"added", added},
      {"removed", removed}, {"changed", changed}, {"unchanged", cmp.unchanged}};
  return doc.dump(2) + "\n";
}

int Diff(const Options& opt, const Layout* named, std::string* out, std::string* err) {
  Loaded o, n;
  if (Load(opt.files[0], named, &o, err) != kShowOk) return kDiffTrouble;
  if (Load(opt.files[1], named, &n, err) != kShowOk) return kDiffTrouble;
  // An empty file is a file of the other's layout.
  const Layout* layout = o.file.layout ? o.file.layout : n.file.layout;
  if (layout == nullptr) {
    out->append(opt.format == Format::kTable ? "unchanged: 0\n" : "");
    return kDiffSame;
  }
  if (o.file.layout && n.file.layout && o.file.layout != n.file.layout) {
    *err += "plomvarde-show: " + o.path + " is " + o.file.layout->function + ", " + n.path +
            " is " + n.file.layout->function + ": files of different layouts\n";
    return kDiffTrouble;
  }
  if (!o.file.layout) o.file = layouts::DecodeFile(o.bytes, *layout);
  if (!n.file.layout) n.file = layouts::DecodeFile(n.bytes, *layout);
  if (o.file.bad_records() + n.file.bad_records() > 0) {
    ReportProblems(o.path, AllRecords(o.file), err);
    ReportProblems(n.path, AllRecords(n.file), err);
    return kDiffTrouble;
  }
  Comparison cmp = Compare(o.file, n.file);
  switch (opt.format) {
    case Format::kTable:
      *out += DiffTable(o, n, cmp);
      break;
    case Format::kTsv:
      *out += DiffTsv(cmp);
      break;
    case Format::kJson:
      *out += DiffJson(o, n, cmp);
      break;
  }
  return cmp.changes.empty() ? kDiffSame : kDiffDifferent;
}

// ---- command line ----

bool Parse(const std::vector<std::string>& args, Options* o, std::string* err, bool* help) {
  static const std::vector<cli::Spec> kSpecs = {{"function", 0, true},
                                                {"badge", 0, true},
                                                {"tsv", 0, false},
                                                {"json", 0, false},
                                                {"diff", 0, false}};
  cli::CommandLine cl;
  if (!cli::Parse(args, kSpecs, &cl)) {
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

int RunShow(const std::vector<std::string>& args, std::string* out, std::string* err) {
  Options o;
  bool help = false;
  if (!Parse(args, &o, err, &help)) {
    *err += kUsage;
    return kShowUsage;
  }
  if (help) {
    *out += kUsage;
    return kShowOk;
  }
  if (o.version) {
    *out += std::string("plomvarde-show ") + PLOM_VERSION + "\n";
    return kShowOk;
  }
  const Layout* named = nullptr;
  if (!o.function.empty()) {
    named = layouts::FindLayout(o.function);
    if (named == nullptr) {
      *err += "plomvarde-show: unknown download function " + Out(o.function) + "\n" + kUsage;
      return kShowUsage;
    }
  }
  return o.diff ? Diff(o, named, out, err) : Show(o, named, out, err);
}

}  // namespace plom::show
