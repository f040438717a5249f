#include "driver/download_file.h"

#include <algorithm>

namespace plom {

std::string RenderDownload(const std::vector<std::string>& lines, int width) {
  size_t total = 0;
  for (const auto& l : lines) total += std::max(l.size(), static_cast<size_t>(width)) + 2;
  std::string out;
  out.reserve(total);
  for (const auto& l : lines) {
    if (l.find('\n') == std::string::npos) {
      out += l;
    } else {
      for (char ch : l) {
        if (ch == '\n') out.push_back('\r');
        out.push_back(ch);
      }
    }
    if (width > 0 && l.size() < static_cast<size_t>(width)) {
      out.append(static_cast<size_t>(width) - l.size(), ' ');
    }
  }
  return out;
}

}  // namespace plom
