// Judging a new download file against the one it replaces: how many
// records each holds, whether the guard refuses the new one, and which
// records a dry run would add, remove and change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plom {

// The records of a download file's bytes: pieces of the record width (the
// last one may be shorter), or, for width 0, lines ending in CR LF (the
// line end not included; a last line without it counts too).
std::vector<std::string> SplitRecords(const std::string& data, int width);

// How many records SplitRecords would give, without splitting.
size_t CountRecords(const std::string& data, int width);

// The number of records of the file at path (0 when missing or unreadable);
// fixed-width files by their size alone.
size_t CountFileRecords(const std::string& path, int width);

// Whether replacing a file of old_records records with one of new_records
// trips the guard: the old file holds at least min_records and the new one
// fewer than pct per cent of them. pct 0 never trips.
bool GuardTrips(size_t old_records, size_t new_records, int pct, size_t min_records);

struct RecordChanges {
  int64_t added = 0, removed = 0, changed = 0;
};

// Records that are in both files unchanged do not count. Of the others, a
// record whose key (the badge number: the first 13 bytes of a fixed-width
// record, the first field of a line) is in both files counts as changed,
// one only in the new file as added, one only in the old file as removed.
RecordChanges CompareRecords(const std::vector<std::string>& old_records,
                             const std::vector<std::string>& new_records, int width);

// The whole content of a file; empty when it is missing or unreadable, or
// is no regular file (see plom::ReadWholeFile of platform/files.h).
std::string ReadWholeFile(const std::string& path);

}  // namespace plom
