// The bytes of a download file.
#pragma once

#include <string>
#include <vector>

namespace plom {

// The bytes of the download file for the lines: each line filled with blanks
// to the record width (width 0: as it is; a longer line is written whole),
// and every line feed written as carriage return + line feed.
std::string RenderDownload(const std::vector<std::string>& lines, int width);

}  // namespace plom
