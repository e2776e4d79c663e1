// The stop signals in a process of their own: at once with the prepared
// line until Stop_Defer, the flag after it.
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

// Before the switch each signal ends the process by itself; the log gets
// the line after what stdio wrote there before, standard error the line
// after "dayset: ".
TEST(StopTest, AtOnceWritesTheLineAndEndsByTheSignal) {
  testdb::TempDir dir;
  const std::string log = dir.file("DAYSET.LOG");
  const std::string err = dir.file("err");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    for (bool with_log : {true, false}) {
      unlink(log.c_str());
      const int status = In_Child(err, [&] {
        FILE* f = std::fopen(log.c_str(), "w");
        if (f == nullptr) return 125;
        std::fprintf(f, "Datum: 20261209\n");
        std::fflush(f);
        Stop_Install_At_Once(kLine);
        if (with_log) Stop_Log_Fd(fileno(f));
        raise(sig);
        return 0;  // survived
      });
      const std::string name = Stop_Signal_Name(sig);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << name << ": status " << status;
      const std::string line = "Error: Lauf durch " + name + " abgebrochen, nichts getan! Phase: Anmeldung!\n";
      EXPECT_EQ(testdb::ReadFile(log), "Datum: 20261209\n" + (with_log ? line : "")) << name;
      EXPECT_EQ(testdb::ReadFile(err), "dayset: " + line) << name;
    }
  }
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
