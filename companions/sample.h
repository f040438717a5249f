// The embedded sample installation: a small hand-made one in which every
// feature of the download functions shows, or N generated badges over three
// client schemas for benchmarks. Every date is relative to today, so the
// badges stay current whenever the file is built (companions/sample.cc
// lists them).
#pragma once

#include <string>

namespace plom {

// Builds the sample installation in file (an earlier database there and its
// journal files are replaced); badges 0 gives the hand-made badges. Returns
// 0 with the summary line's counts in *summary, or 73 (having said why on
// standard error) when the file cannot be created.
int WriteSampleDatabase(const std::string& file, long badges, std::string* summary);

}  // namespace plom
