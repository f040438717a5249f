// The record layouts of the download files, for reading files back: each
// layout as a list of named fields, a decoder that splits a file into
// records and says what in a record does not fit its layout, and an encoder
// that puts the fields back together.
//
// Texts are Windows-1252 byte strings, as in the files; widths are bytes.
//
// The four fixed layouts (VQDNL17P 85, VQDNL31P 48, VQDNL18P 173, VQDNL60P
// 45 characters) are written as a plain sequence of records with no
// separator; a file whose records end in CR LF (or LF) is read as well.
// IDSTAMM files hold one line of 13 double-quoted, comma-separated fields
// per record, each ending in CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plom::layouts {

// What a field may hold; Decode checks every field against its kind.
enum class FieldKind {
  kBadge,        // badge number: not blank, no control character
  kDate,         // yyyymmdd; "00000000" (fixed) or "" (IDSTAMM) when empty
  kFlag,         // "0" or "1"
  kAmount,       // 7-character balance or vacation text, or blanks
  kReader,       // reader number of entry n: "%02d" of n, or blanks
  kClass,        // access class: any text; blank where its reader is blank
  kFixed,        // exactly the text of FieldDef::fixed
  kDisplayDate,  // "%d.%m.%y", or blanks behind the first character
  kLocation,     // IDSTAMM location: "" or 5 digits
  kInteger,      // "" or a decimal integer with optional "-"
  kText,         // anything
};

struct FieldDef {
  std::string name;
  size_t column = 0;  // fixed layouts: first column, counted from 1
  size_t width = 0;   // fixed layouts: width in characters
  FieldKind kind = FieldKind::kText;
  std::string fixed;  // kFixed: the text the field holds
  int entry = 0;      // kReader, kClass: the reader entry number
};

struct Layout {
  std::string function;  // download function, in capitals
  size_t width = 0;      // record width; 0 for IDSTAMM
  std::vector<FieldDef> fields;
  // Fixed layouts: the fields tile the record from column 1 to width.
  bool quoted() const { return width == 0; }
};

// The five layouts, in the order VQDNL17P, VQDNL31P, VQDNL18P, VQDNL60P,
// IDSTAMM.
const std::vector<Layout>& AllLayouts();

// The layout of a download function (any case); nullptr when unknown.
const Layout* FindLayout(std::string_view function);

struct Field {
  const FieldDef* def = nullptr;
  std::string value;  // exact: fixed layouts with their blanks
};

struct Record {
  size_t line = 0;  // line (or record) number in the file, from 1
  std::vector<Field> fields;
  std::vector<std::string> problems;  // empty when the record fits

  // The exact value of the named field; nullptr when there is none.
  const std::string* Find(std::string_view name) const;
};

// How the records of a file are separated.
enum class Framing { kNone, kCrLf, kLf };

struct DecodedFile {
  const Layout* layout = nullptr;
  Framing framing = Framing::kNone;
  std::vector<Record> records;
  size_t bad_records() const;
};

// Splits one record into its fields and checks them. raw is the record
// without its line end; line is its number for the report.
Record DecodeRecord(const Layout& layout, std::string_view raw, size_t line);

// Splits the bytes of a download file into records of the layout. A file of
// a fixed layout that holds a line feed is read line by line (CR LF or LF);
// otherwise it is cut into pieces of the record width, and a shorter last
// piece is reported as such. An IDSTAMM line without CR LF at its end is
// reported.
DecodedFile DecodeFile(std::string_view bytes, const Layout& layout);

// The record as the layout writes it: fixed layouts each field filled with
// blanks to its width at its column (a longer value is cut), IDSTAMM the
// quoted fields joined by commas. Without the line end.
std::string EncodeRecord(const Layout& layout, const Record& record);

// The bytes of the file: every record encoded, followed by the line end of
// the file's framing (IDSTAMM: always CR LF).
std::string EncodeFile(const DecodedFile& file);

struct Recognition {
  const Layout* layout = nullptr;  // nullptr: see reason
  std::string reason;
};

// Tells the layout of a file from its bytes: the quoted form is IDSTAMM; a
// file with line ends by the length of its first line; a plain sequence by
// the widths that divide its size and the content of its records. An empty
// file, or one that two layouts read without a fault, is not told.
Recognition RecogniseLayout(std::string_view bytes);

// What RecogniseLayout asks of a file, for a file read as a stream: its
// size, its first byte (-1: none), whether it holds a line feed and how long
// its first line is (without its line end), and how many records a fixed
// layout reads from it without a fault.
struct FileFacts {
  uint64_t size = 0;
  int first_byte = -1;
  bool has_line_feed = false;
  size_t first_line_length = 0;
  std::function<size_t(const Layout&)> clean_records;
};
Recognition RecogniseLayout(const FileFacts& facts);

// The field value for a person: fixed layouts without leading and trailing
// blanks, IDSTAMM values as they stand.
std::string DisplayValue(const Layout& layout, const Field& field);

// The key of a record for comparing two files: badge number and validity
// start (empty where the layout has none), both as displayed.
struct RecordKey {
  std::string badge;
  std::string valid_from;
  auto operator<=>(const RecordKey&) const = default;
};
RecordKey KeyOf(const Layout& layout, const Record& record);

}  // namespace plom::layouts
