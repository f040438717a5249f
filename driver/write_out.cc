#include "driver/write_out.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>

#include "platform/files.h"

namespace plom {
namespace {

constexpr size_t kKeyWidth = 13;  // the badge number of the fixed layouts

std::string RecordKey(const std::string& record, int width) {
  if (width > 0) return record.substr(0, kKeyWidth);
  return record.substr(0, record.find(','));
}

// Counts per text; removes from both what is in both.
void DropCommon(std::map<std::string, int64_t>* a, std::map<std::string, int64_t>* b) {
  for (auto& [text, n] : *a) {
    auto it = b->find(text);
    if (it == b->end()) continue;
    int64_t common = std::min(n, it->second);
    n -= common;
    it->second -= common;
  }
}

std::map<std::string, int64_t> Count(const std::vector<std::string>& records) {
  std::map<std::string, int64_t> n;
  for (const auto& r : records) ++n[r];
  return n;
}

std::map<std::string, int64_t> CountKeys(const std::map<std::string, int64_t>& records, int width) {
  std::map<std::string, int64_t> n;
  for (const auto& [text, count] : records) {
    if (count > 0) n[RecordKey(text, width)] += count;
  }
  return n;
}

}  // namespace

std::vector<std::string> SplitRecords(const std::string& data, int width) {
  std::vector<std::string> records;
  if (width > 0) {
    for (size_t at = 0; at < data.size(); at += static_cast<size_t>(width)) {
      records.push_back(data.substr(at, static_cast<size_t>(width)));
    }
    return records;
  }
  size_t at = 0;
  while (at < data.size()) {
    size_t end = data.find("\r\n", at);
    if (end == std::string::npos) {
      records.push_back(data.substr(at));
      break;
    }
    records.push_back(data.substr(at, end - at));
    at = end + 2;
  }
  return records;
}

size_t CountRecords(const std::string& data, int width) {
  if (width > 0) return (data.size() + static_cast<size_t>(width) - 1) / static_cast<size_t>(width);
  size_t records = 0;
  size_t at = 0;
  while (at < data.size()) {
    ++records;
    size_t end = data.find("\r\n", at);
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return records;
}

size_t CountFileRecords(const std::string& path, int width) {
  if (width <= 0) return CountRecords(ReadWholeFile(path), width);
  std::error_code ec;
  uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return 0;
  return static_cast<size_t>((size + static_cast<uintmax_t>(width) - 1) /
                             static_cast<uintmax_t>(width));
}

bool GuardTrips(size_t old_records, size_t new_records, int pct, size_t min_records) {
  if (pct <= 0 || old_records < min_records) return false;
  return static_cast<uint64_t>(new_records) * 100 <
         static_cast<uint64_t>(old_records) * static_cast<uint64_t>(pct);
}

RecordChanges CompareRecords(const std::vector<std::string>& old_records,
                             const std::vector<std::string>& new_records, int width) {
  auto old_left = Count(old_records);
  auto new_left = Count(new_records);
  DropCommon(&old_left, &new_left);
  auto old_keys = CountKeys(old_left, width);
  auto new_keys = CountKeys(new_left, width);
  RecordChanges c;
  for (const auto& [key, n] : new_keys) {
    auto it = old_keys.find(key);
    int64_t in_old = it == old_keys.end() ? 0 : it->second;
    int64_t paired = std::min(n, in_old);
    c.changed += paired;
    c.added += n - paired;
  }
  for (const auto& [key, n] : old_keys) {
    auto it = new_keys.find(key);
    int64_t in_new = it == new_keys.end() ? 0 : it->second;
    c.removed += n - std::min(n, in_new);
  }
  return c;
}

std::string ReadWholeFile(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, &data)) data.clear();
  return data;
}

}  // namespace plom
