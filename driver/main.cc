// plomvarde FUNCTION TERMINAL FILE NEW: writes the download file of a
// terminal for one download function.
#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  plom::KeepStandardOutputBytes();
  std::vector<std::string> args(argv + 1, argv + argc);
  plom::Messages msg(stdout);
  int status = plom::RunTool(args, msg, plom::DefaultRunOptions());
  msg.Flush();
  return status;
}
