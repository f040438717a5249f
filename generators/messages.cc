#include "generators/messages.h"

#include <cstdarg>

namespace plom {

void Messages::Printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(out_, fmt, ap);
  va_end(ap);
}

}  // namespace plom
