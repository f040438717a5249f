// The configuration file reader.
//
// The configuration file is a sequence of entries of two ';'-separated lines
// each:
//
//   first line:   free text ; group ; anything
//   second line:  number ; key ; enciphered value
//
// The file is read as text (CR LF reads as LF) and every line counts, empty
// or not. The first line of an entry is read with room for 199 characters,
// the second with room for 399, line end included; a longer line is cut there
// and its remainder is read as the next line, shifting every later entry.
//
// A well-formed file has at least two ';' in every first line with a
// non-empty group between them, a non-zero number and at least two ';' in
// every second line, and a line end after every line. The run driver finds
// its entries LOGIN, PASS, SQLSERVER (or NET8) and SCHEMA by key alone, so an
// entry that breaks these rules does not answer for the others.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plom {

// The configuration file, relative to the working directory.
constexpr char kConfigPath[] = "..\\..\\files\\korvantis.ini";

// Group, key and value fields are cut to this many characters, the number
// field to kMaxConfigNumberLen before it is converted.
constexpr size_t kMaxConfigFieldLen = 200;
constexpr size_t kMaxConfigNumberLen = 11;

// One entry of the configuration file. All empty and number 0 when nothing
// matched.
struct ConfigEntry {
  int32_t number = 0;
  std::string group;
  std::string key;
  std::string value;  // deciphered under kConfigKey
};

// Finds the first entry that matches and returns its fields, the value
// deciphered. An entry matches when its key equals key, OR group is not empty
// and its group equals group, OR number is not 0 and its number equals number
// (exact, case-sensitive). An empty group and the number 0 mean "any": the run
// driver's lookups ("", key, 0) go by key alone. The file is opened
// as HostPath(path), scanned from its first line and closed on every call.
// A file that cannot be opened, or one without a matching entry, gives an
// empty entry; nothing is printed.
//
// How an entry is split (p1, p2: first and second ';' of the first line; q1,
// q2 those of the second line, all by NthCharPos):
//   group  = SubstrCopy(first, p1 + 1, p2 - p1 - 1). Adjacent ';' give the
//            rest of the line, line end included; fewer than two ';' give "".
//   number = DecimalPrefix(SubstrCopy(second, 0, q1)); a second line without
//            ';' or beginning with ';' has number 0.
//   key    = SubstrCopy(second, q1 + 1, q2 - q1 - 1), likewise.
//   value  = without ';' in the second line: the whole line, line end
//            included. Otherwise the text after the second (or only) ';' up
//            to the line end, not including it; if that text is empty, the
//            line end alone (which deciphers to ""). Where the line has no
//            line end (last line of the file, or a line cut at 399
//            characters), the value ends at the end of the text read.
// A line is taken up to its first 0 byte, if it holds one.
ConfigEntry ConfigLookup(const std::string& group, const std::string& key, int32_t number,
                         const std::string& path);

// Every entry of the file in file order, split as ConfigLookup splits them
// and with the values deciphered (for listing a file). False when the file
// cannot be opened.
bool ConfigReadAll(const std::string& path, std::vector<ConfigEntry>* entries);

// Why the configuration file cannot be read, in the system's words ("No
// such file or directory"); empty when it can.
std::string ConfigFileUnreadable(const std::string& path);

// The position (from 0) of the n-th occurrence of c in text; the position of
// the last occurrence if c occurs fewer than n times; -1 if c does not occur
// (an empty text included). An n below 1 counts as 1.
int NthCharPos(std::string_view text, char c, int n);

// With length > 0, up to length characters from position start (fewer where
// the text ends before); with length 0, everything from start to the end of
// the text; with a negative length, "". A start below 0 counts as 0, one at
// or beyond the end gives "".
std::string SubstrCopy(std::string_view text, int start, int length);

}  // namespace plom
