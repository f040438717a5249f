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
AdmissionCache::AccessAnswer CheckAccess(Connection& c, const std::string& access_class,
                                         const std::string& terminal, int highest) {
  AdmissionCache::AccessAnswer answer;
  OpenReaderCursor(c, terminal, highest);
  int count = 0;
  int reader = 0;
  std::string code;
  while (FetchReader(c, &reader, &code) == kSqlOk) {
    if (!answer.found) {
      CountReaderPermissions(c, code, access_class, &count);
      if (count != 0) answer.found = true;
    }
    if (reader >= 1 && reader <= kSlotCount) answer.readers.push_back(reader);
  }
  CloseReaderCursor(c);
  return answer;
}

bool CheckTime(Connection& c, const std::string& access_class, const std::string& terminal) {
  bool permitted = true;
  OpenReaderCursor(c, terminal, kTimeReaderHighest);
  int count = 0;
  int reader = 0;
  std::string code;
  while (FetchReader(c, &reader, &code) == kSqlOk) {
    if (reader != 1) continue;
    if (CountReaderTimeBlocks(c, code, access_class, &count) == kSqlOk && count != 0) {
      permitted = false;
    }
    break;
  }
  CloseReaderCursor(c);
  return permitted;
}

}  // namespace

bool HasAccessPermission(Connection& c, AdmissionCache& cache, BadgeRecord* r,
                         const std::string& terminal, int highest, bool record_readers) {
  AdmissionCache::AccessAnswer fresh;
  const AdmissionCache::AccessAnswer* answer = &fresh;
  if (cache.enabled()) {
    AdmissionCache::AccessKey key{terminal, r->access_class, highest};
    auto it = cache.access.find(key);
    if (it == cache.access.end()) {
      it = cache.access.emplace(key, CheckAccess(c, r->access_class, terminal, highest)).first;
    }
    answer = &it->second;
  } else {
    fresh = CheckAccess(c, r->access_class, terminal, highest);
  }
  if (record_readers) {
    for (int reader : answer->readers) WriteSlot(r, reader);
  }
  return answer->found;
}

bool HasTimePermission(Connection& c, AdmissionCache& cache, const BadgeRecord& r,
                       const std::string& terminal) {
  if (!cache.enabled()) return CheckTime(c, r.access_class, terminal);
  AdmissionCache::TimeKey key{terminal, r.access_class};
  auto it = cache.time.find(key);
  if (it == cache.time.end()) {
    it = cache.time.emplace(key, CheckTime(c, r.access_class, terminal)).first;
  }
  return it->second;
}

}  // namespace plom
