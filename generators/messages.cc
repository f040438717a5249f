#include "generators/messages.h"

#include <cstdarg>
#include <cstring>

namespace plom {
namespace {

void AppendV(std::string* to, const char* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  if (n > 0) {
    size_t at = to->size();
    to->resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(to->data() + at, static_cast<size_t>(n) + 1, fmt, again);
    to->resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

}  // namespace

void AppendF(std::string* to, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  AppendV(to, fmt, ap);
  va_end(ap);
}

std::string MessageKind(const char* fmt) {
  if (fmt[0] == '%') return "";
  std::string kind;
  for (const char* c = fmt; *c != '\0'; ++c) {
    if (*c != '%') {
      kind += *c;
      continue;
    }
    if (c[1] == '%') {
      kind += '%';
      ++c;
      continue;
    }
    // Flags, width, precision and length say nothing of the kind.
    ++c;
    while (*c != '\0' && std::strchr("-+ #0123456789.*hlLqjzt", *c) != nullptr) ++c;
    if (*c == '\0') break;
    kind += '%';
    kind += std::strchr("diuxXo", *c) != nullptr ? 'd' : *c;
  }
  while (!kind.empty() && kind.back() == '\n') kind.pop_back();
  return kind;
}

void CountKind(std::map<std::string, int>* kinds, const char* fmt) {
  std::string kind = MessageKind(fmt);
  if (!kind.empty()) ++(*kinds)[kind];
}

void Messages::Printf(const char* fmt, ...) {
  CountKind(&kinds_, fmt);
  va_list ap;
  va_start(ap, fmt);
  if (text_ == nullptr) {
    std::vfprintf(out_, fmt, ap);
  } else {
    AppendV(text_, fmt, ap);
  }
  va_end(ap);
}

void Messages::Write(const std::string& text) {
  if (text.empty()) return;
  if (text_ != nullptr) {
    text_->append(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), out_);
  }
}

}  // namespace plom
