#include "config/config_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/cipher.h"
#include "platform/files.h"

namespace plom {

namespace {

// Room of the two line reads, line end included.
constexpr size_t kFirstLineRoom = 199;
constexpr size_t kSecondLineRoom = 399;

// Reads the whole file as text: CR LF becomes LF, a lone CR stays.
bool ReadTextFile(const std::string& path, std::string* text) {
  std::string raw;
  if (!ReadWholeFile(path, &raw)) return false;
  text->clear();
  text->reserve(raw.size());
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text->push_back(raw[i]);
  }
  return true;
}

// Reads the next line as a line read with room for `room` characters does:
// up to and including the line end, at most room characters. False at the
// end of the text. The line is taken up to its first 0 byte.
bool ReadLine(const std::string& text, size_t* pos, size_t room, std::string_view* line) {
  if (*pos >= text.size()) return false;
  size_t end = *pos;
  while (end < text.size() && end - *pos < room) {
    if (text[end++] == '\n') break;
  }
  std::string_view read(text.data() + *pos, end - *pos);
  *pos = end;
  size_t nul = read.find('\0');
  *line = nul == std::string_view::npos ? read : read.substr(0, nul);
  return true;
}

std::string Cut(std::string s, size_t width) {
  if (s.size() > width) s.resize(width);
  return s;
}

// Splits one entry into its fields; the value stays enciphered.
ConfigEntry SplitEntry(std::string_view first, std::string_view second) {
  ConfigEntry e;
  const int p1 = NthCharPos(first, ';', 1);
  const int p2 = NthCharPos(first, ';', 2);
  e.group = Cut(SubstrCopy(first, p1 + 1, p2 - p1 - 1), kMaxConfigFieldLen);

  const int q1 = NthCharPos(second, ';', 1);
  const int q2 = NthCharPos(second, ';', 2);
  e.number = DecimalPrefix(Cut(SubstrCopy(second, 0, q1), kMaxConfigNumberLen));
  e.key = Cut(SubstrCopy(second, q1 + 1, q2 - q1 - 1), kMaxConfigFieldLen);

  if (q1 < 0) {
    e.value = std::string(second);
  } else {
    std::string_view rest = second.substr(static_cast<size_t>(q2) + 1);
    const bool has_end = !rest.empty() && rest.back() == '\n';
    if (has_end) rest.remove_suffix(1);
    e.value = rest.empty() && has_end ? std::string("\n") : std::string(rest);
  }
  e.value = Cut(std::move(e.value), kMaxConfigFieldLen);
  return e;
}

// Hands each entry of the file, split but still enciphered, to fn until fn
// returns false or the file ends. False when the file cannot be opened.
template <typename Fn>
bool ScanEntries(const std::string& path, Fn fn) {
  std::string text;
  if (!ReadTextFile(HostPath(path), &text)) return false;
  size_t pos = 0;
  std::string_view first, second;
  for (;;) {
    // A failed read of the first line leaves it as it was; the read of the
    // second line then fails as well and ends the scan.
    ReadLine(text, &pos, kFirstLineRoom, &first);
    if (!ReadLine(text, &pos, kSecondLineRoom, &second)) return true;
    ConfigEntry e = SplitEntry(first, second);
    if (!fn(e)) return true;
  }
}

// An empty group and the number 0 in a request stand for "any": they match
// no entry by themselves, so the run driver's lookups go by key alone and a
// stray entry with an empty group or number 0 cannot answer them.
bool Matches(const ConfigEntry& e, const std::string& group, const std::string& key,
             int32_t number) {
  if (e.key == key) return true;
  if (!group.empty() && e.group == group) return true;
  return number != 0 && e.number == number;
}

}  // namespace

int NthCharPos(std::string_view text, char c, int n) {
  int last = -1;
  int seen = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != c) continue;
    last = static_cast<int>(i);
    if (++seen >= n) break;
  }
  return last;
}

std::string SubstrCopy(std::string_view text, int start, int length) {
  if (length < 0) return {};
  const size_t from = start < 0 ? 0 : static_cast<size_t>(start);
  if (from >= text.size()) return {};
  if (length == 0) return std::string(text.substr(from));
  return std::string(text.substr(from, static_cast<size_t>(length)));
}

ConfigEntry ConfigLookup(const std::string& group, const std::string& key, int32_t number,
                         const std::string& path) {
  ConfigEntry found;
  ScanEntries(path, [&](ConfigEntry& e) {
    if (!Matches(e, group, key, number)) return true;
    e.value = DecipherValue(e.value, kConfigKey);
    found = std::move(e);
    return false;
  });
  return found;
}

std::string ConfigFileUnreadable(const std::string& path) {
  errno = 0;
  FILE* f = std::fopen(HostPath(path).c_str(), "rb");
  if (f == nullptr) return std::strerror(errno != 0 ? errno : ENOENT);
  char byte;
  bool failed = std::fread(&byte, 1, 1, f) == 0 && std::ferror(f);
  int error = errno;
  std::fclose(f);
  return failed ? std::strerror(error) : std::string();
}

bool ConfigReadAll(const std::string& path, std::vector<ConfigEntry>* entries) {
  entries->clear();
  return ScanEntries(path, [&](ConfigEntry& e) {
    e.value = DecipherValue(e.value, kConfigKey);
    entries->push_back(std::move(e));
    return true;
  });
}

}  // namespace plom
