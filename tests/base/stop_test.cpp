// The stop signals in a process of their own: at once until Stop_Defer
// (the line and the end by the signal itself are seen through the real
// program in tests/run/stop_test.cpp), the flag after it.
#include "base/stop.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "testdb.h"

namespace {

constexpr char kLine[] = "Error: Lauf durch %s abgebrochen, nichts getan! Phase: Anmeldung!\n";

// Runs `body` in a child whose standard error is `err` (a file, or the
// write end of a pipe when `err` is empty and `pipe_fd` given); returns its
// wait status. A child that hangs is ended by SIGALRM.
int In_Child(const std::string& err, const std::function<int()>& body, int pipe_fd = -1) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(5);
    const int fd = pipe_fd >= 0 ? pipe_fd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(126);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// A standard error whose reader is gone (a closed pipe) does not turn the
// end into one by SIGPIPE.
TEST(StopTest, AtOnceEndsByTheSignalWhenStandardErrorIsABrokenPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  const int status = In_Child("", [] {
    Stop_Install_At_Once(kLine);
    raise(SIGTERM);
    return 0;
  }, fds[1]);
  close(fds[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
}

// After Stop_Defer a signal only sets the flag and writes nothing.
TEST(StopTest, AfterTheSwitchASignalSetsTheFlag) {
  testdb::TempDir dir;
  const std::string err = dir.file("err");
  const int status = In_Child(err, [] {
    Stop_Install_At_Once(kLine);
    Stop_Defer();
    raise(SIGHUP);
    return Stop_Signal() == SIGHUP ? 0 : 1;
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(testdb::ReadFile(err), "");
}

}  // namespace
