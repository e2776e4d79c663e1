// Every program names itself and its version, and nothing else happens.
#include <gtest/gtest.h>

#include <string>

#include "../support/testdb.h"

namespace {

TEST(VersionTest, EveryProgramAnswersVersion) {
  testdb::TempDir dir;
  for (const char* program : {"dayset", "dayset-conf", "dayset-demo", "dayset-view"}) {
    std::string out;
    const int status = testdb::RunCommand("cd '" + dir.path() + "' && '" + testdb::BinaryPath(program) +
                                              "' --version 2>&1",
                                          &out);
    EXPECT_EQ(status, 0) << program;
    EXPECT_EQ(out.rfind(std::string(program) + " 1.", 0), 0u) << program << ": " << out;
  }
  std::string out;
  testdb::RunCommand("'" + testdb::BinaryPath("dayset") + "' --version", &out);
  // Backends, not the schemes that name them.
  EXPECT_NE(out.find("backends: sqlite postgresql odbc\n"), std::string::npos) << out;
  std::string files;
  testdb::RunCommand("ls -A '" + dir.path() + "'", &files);
  EXPECT_EQ(files, "");
}

}  // namespace
