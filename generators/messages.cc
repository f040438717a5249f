#include "generators/messages.h"

#include <cstdarg>

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

void Messages::Printf(const char* fmt, ...) {
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
