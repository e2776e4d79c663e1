// The progress line: shown on a terminal, absent everywhere else.
#include "base/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "testdb.h"

namespace {

// Runs the progress calls of a short run with standard error on `fd`.
void RunWithStderrOn(int fd) {
  std::fflush(stderr);
  int saved = dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  dup2(fd, STDERR_FILENO);
  Progress_Init();
  Progress_Phase("Basiskalender");
  Progress_Phase("Personen");
  Progress_Person(365);
  Progress_Person(366);
  Progress_Done();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
}

TEST(ProgressTest, NothingWhenStandardErrorIsAFile) {
  testdb::TempDir dir;
  std::string path = dir.file("stderr.txt");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  RunWithStderrOn(fd);
  close(fd);
  EXPECT_FALSE(Progress_Active());
  EXPECT_EQ(testdb::ReadFile(path), "");
}

TEST(ProgressTest, OneSelfUpdatingLineOnATerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) GTEST_SKIP() << "no pseudo-terminal on this machine";
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  RunWithStderrOn(slave);
  EXPECT_TRUE(Progress_Active());
  close(slave);

  std::string shown;
  char buf[512];
  fcntl(master, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
  close(master);
  // Each update returns to the start of the line; the last one ends it.
  EXPECT_NE(shown.find("\r\033[Kdayset: Basiskalender, 0 Personen, 0 Tage, 0:00\r"), std::string::npos) << shown;
  EXPECT_NE(shown.find("dayset: Personen, 2 Personen, 731 Tage, 0:00"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\n'), shown.size() - 1) << shown;
  Progress_Init();  // back to the state of standard error as it is now
}

}  // namespace
