// Admission checks of a badge's access class on a terminal.
#include "generators/admission.h"

#include <cstdio>

#include "installation/badge_queries.h"

namespace plom {

namespace {

constexpr int kTimeReaderHighest = 1;
constexpr int kSlotCount = 11;

void WriteSlot(BadgeRecord* r, int reader) {
  if (reader < 1 || reader > kSlotCount) return;
  // "%02d" of 1 to 11.
  const char digits[] = {static_cast<char>('0' + reader / 10),
                         static_cast<char>('0' + reader % 10)};
  r->reader_slot[reader - 1].assign(digits, 2);
}

// Walks the terminal's readers up to `highest`: counts the class's
// permissions on each reader until one is found, and collects every reader
// number that has a slot.
Status CheckAccess(Connection& c, const std::string& access_class, const std::string& terminal,
                   int highest, AdmissionCache::AccessAnswer* answer) {
  Status s = OpenReaderCursor(c, terminal, highest);
  int reader = 0;
  std::string code;
  while (s.ok() && (s = FetchReader(c, &reader, &code)).ok()) {
    if (!answer->found) {
      int count = 0;
      s = CountReaderPermissions(c, code, access_class, &count);
      if (!s.ok()) break;  // COUNT(*) always delivers a row
      if (count != 0) answer->found = true;
    }
    if (reader >= 1 && reader <= kSlotCount) answer->readers.push_back(reader);
  }
  CloseReaderCursor(c);
  return s.no_row() ? Status::Ok() : s;
}

Status CheckTime(Connection& c, const std::string& access_class, const std::string& terminal,
                 bool* permitted) {
  *permitted = true;
  Status s = OpenReaderCursor(c, terminal, kTimeReaderHighest);
  int reader = 0;
  std::string code;
  while (s.ok() && (s = FetchReader(c, &reader, &code)).ok()) {
    if (reader != 1) continue;
    int count = 0;
    s = CountReaderTimeBlocks(c, code, access_class, &count);
    if (s.ok() && count != 0) *permitted = false;
    break;
  }
  CloseReaderCursor(c);
  return s.no_row() ? Status::Ok() : s;
}

}  // namespace

Status HasAccessPermission(Connection& c, AdmissionCache& cache, BadgeRecord* r,
                           const std::string& terminal, int highest, bool record_readers,
                           bool* permitted) {
  AdmissionCache::AccessAnswer fresh;
  const AdmissionCache::AccessAnswer* answer = &fresh;
  AdmissionCache::AccessKey key{terminal, r->access_class, highest};
  auto it = cache.enabled() ? cache.access.find(key) : cache.access.end();
  if (it != cache.access.end()) {
    answer = &it->second;
  } else {
    Status s = CheckAccess(c, r->access_class, terminal, highest, &fresh);
    if (!s.ok()) return s;
    if (cache.enabled()) answer = &cache.access.emplace(key, std::move(fresh)).first->second;
  }
  if (record_readers) {
    for (int reader : answer->readers) WriteSlot(r, reader);
  }
  *permitted = answer->found;
  return Status::Ok();
}

Status HasTimePermission(Connection& c, AdmissionCache& cache, const BadgeRecord& r,
                         const std::string& terminal, bool* permitted) {
  AdmissionCache::TimeKey key{terminal, r.access_class};
  auto it = cache.enabled() ? cache.time.find(key) : cache.time.end();
  if (it != cache.time.end()) {
    *permitted = it->second;
    return Status::Ok();
  }
  Status s = CheckTime(c, r.access_class, terminal, permitted);
  if (s.ok() && cache.enabled()) cache.time.emplace(key, *permitted);
  return s;
}

}  // namespace plom
