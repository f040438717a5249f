// Where the generators hand their lines: in a run the line store, which the
// driver later writes out; elsewhere (plomvarde-explain) a report that shows
// them and stores nothing.
#pragma once

#include <string>

namespace plom {

class LineSink {
 public:
  virtual ~LineSink() = default;
  // Takes one line of the download file at path. Returns 0 when taken, else
  // the sqlcode with which it was refused (the line is then missing).
  virtual int Insert(const std::string& path, const std::string& line) = 0;
};

}  // namespace plom
