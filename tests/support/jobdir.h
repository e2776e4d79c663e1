// The job as an operator runs it: the real executable in a scratch
// directory with a configuration file of its own. Shared by the tests of
// the driver and of its hardening.
#pragma once

#include <sys/stat.h>

#include <string>

#include "config/ini.h"
#include "testdb.h"

namespace testdb {

struct JobOutcome {
  int status;  // exit status; 128 + N for a program ended by signal N (as the shell reports it)
  std::string out;
  std::string err;
  std::string log;  // DAYSET.LOG afterwards
};

class JobDir {
 public:
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }

  // Runs dayset with `args` (already shell-quoted) in the directory;
  // `prefix` goes before the program (environment, ulimit, ...).
  JobOutcome Run(const std::string& args, const std::string& prefix = "") const {
    JobOutcome o;
    const std::string cmd = "cd '" + dir_.path() + "' && " + prefix + " '" + BinaryPath("dayset") + "' " + args +
                            " 2>'" + dir_.file("stderr.txt") + "'; exit $?";
    o.status = RunCommand(cmd, &o.out);
    o.err = ReadFile(dir_.file("stderr.txt"));
    // What stands at the log's name may be no file to read (a FIFO).
    struct stat st {};
    if (lstat(dir_.file("DAYSET.LOG").c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      o.log = ReadFile(dir_.file("DAYSET.LOG"));
    }
    return o;
  }

  // A configuration file the job can read, with the four connection values;
  // returns its name relative to the directory.
  std::string Config(const std::string& login, const std::string& pass, const std::string& net,
                     const std::string& schema) const {
    const std::string path = dir_.file("dayset.ini");
    EXPECT_EQ(Ini_Record_Put(path.c_str(), "DB", 1, "LOGIN", login.c_str()), 0);
    EXPECT_EQ(Ini_Record_Put(path.c_str(), "DB", 2, "PASS", pass.c_str()), 0);
    EXPECT_EQ(Ini_Record_Put(path.c_str(), "DB", 3, "NET8", net.c_str()), 0);
    EXPECT_EQ(Ini_Record_Put(path.c_str(), "DB", 4, "SCHEMA", schema.c_str()), 0);
    return "dayset.ini";
  }

 private:
  TempDir dir_;
};

}  // namespace testdb
