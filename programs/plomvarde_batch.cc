// plomvarde-batch [OPTIONS] PLAN: the download files of a whole site in
// one run.
#include <string>
#include <vector>

#include "driver/batch.h"

int main(int argc, char** argv) {
  return plom::BatchMain(std::vector<std::string>(argv + 1, argv + argc));
}
