// plomvarde-show: reads a download file back into named fields, and
// compares two download files record by record.
//
//   plomvarde-show [--function F] [--badge B] [--tsv | --json] FILE
//   plomvarde-show [--function F] [--tsv | --json] --diff OLD NEW
//
// Files are read as Windows-1252; everything printed is UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "layouts/layouts.h"

namespace plom::show {

// Exit statuses of showing a file.
constexpr int kShowOk = 0;
constexpr int kShowUsage = 64;
constexpr int kShowBadData = 65;  // a record that does not fit, or no layout
constexpr int kShowNoInput = 66;  // the file cannot be read
// Exit statuses of --diff, as diff(1) has them.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffTrouble = 2;

enum class Format { kTable, kTsv, kJson };

// One difference between two files of one layout.
struct Change {
  enum Kind { kAdded, kRemoved, kChanged } kind = kChanged;
  layouts::RecordKey key;
  size_t old_line = 0, new_line = 0;  // 0 where the record is not in that file
  const layouts::Record* old_record = nullptr;
  const layouts::Record* new_record = nullptr;
  // kChanged: each field that differs, with its old and new exact values.
  struct FieldChange {
    std::string name, old_value, new_value;
  };
  std::vector<FieldChange> fields;
};

struct Comparison {
  std::vector<Change> changes;  // in order of their keys
  size_t unchanged = 0;
};

// Pairs the records of two files of the same layout by badge number and
// validity start (a key that occurs several times pairs in file order) and
// lists what was added, removed and changed.
Comparison Compare(const layouts::DecodedFile& old_file, const layouts::DecodedFile& new_file);

// Runs the program on its arguments (without the program name); what it
// prints goes to out and err. Returns the exit status.
//
// A file is read as a stream, one record at a time, once per pass over it
// (the aligned table measures its columns before it prints them; a line
// longer than 64 KB is read only to that length), so that printing to
// streams holds no more than a few records. --diff merges two files in key
// order (as the tool writes them) as streams, holding the records of one
// key; files out of that order it holds whole, up to 32 MB each, and
// refuses larger ones.
int RunShow(const std::vector<std::string>& args, std::string* out, std::string* err);
int RunShow(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace plom::show
