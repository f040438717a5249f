// What only Windows hosts do with the tool's paths and files.
#include <gtest/gtest.h>

#include "config/config_file.h"
#include "platform/files.h"

namespace plom {
namespace {

TEST(WindowsFiles, HostPathIsThePathAsWritten) {
  EXPECT_EQ(HostPath(kConfigPath), "..\\..\\files\\korvantis.ini");
  EXPECT_EQ(HostPath("C:\\Korvantis\\M\xE4rz/x.dnl"), "C:\\Korvantis\\M\xE4rz/x.dnl");
}

}  // namespace
}  // namespace plom
