// dayset-conf: writes and shows the records of the job's configuration file
// for administrators. Values are stored enciphered; the value given is never
// written to standard error. See Usage() for the form.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "config/blowfish.h"
#include "config/ini.h"
#include "db/sqlrt.h"
#include "run/connect.h"
#include "run/usage.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: dayset-conf set [-s SECTION] [-n NUMBER] FILE NAME [VALUE]\n"
               "       dayset-conf get FILE NAME\n"
               "       dayset-conf --help | --version\n"
               "\n"
               "set  adds the record NAME to the configuration file FILE, or replaces the first\n"
               "     record of that name, with VALUE enciphered. Without VALUE the value is read\n"
               "     from standard input (asked for without echo on a terminal), so that a\n"
               "     password need not stand in the shell's history; a trailing newline of the\n"
               "     input is not part of the value.\n"
               "       -s SECTION  section of the record (default DB); not empty\n"
               "       -n NUMBER   number of the record (default: that of the record replaced,\n"
               "                   else one more than the highest in the file); not 0\n"
               "     A value has at most %zu characters and no zero byte. Section and name hold\n"
               "     no ';', CR, LF or Ctrl-Z. The file is replaced as a whole (a new file gets\n"
               "     mode 0600); its other records and their line ends stay as they are.\n"
               "get  prints the deciphered value of NAME as the job reads it.\n"
               "\n"
               "The job reads LOGIN, PASS, NET8 and SCHEMA, each by name. It takes SCHEMA\n"
               "without its last character: store the schema HRSYSTEM as HRSYSTEMx, say.\n"
               "It also takes any record that has an empty section or number 0 for every\n"
               "name; records written here always have a section and a non-zero number.\n"
               "\n"
               "Exit status: 0 done, 1 failure (file not readable or writable, name not\n"
               "found), 2 usage error.\n",
               kIniPlainMax);
}

int UsageError(const char* message) {
  std::fprintf(stderr, "dayset-conf: %s\n", message);
  std::fprintf(stderr, "Try 'dayset-conf --help'.\n");
  return kExitUsage;
}

bool ParseNumber(const char* text, int32_t* number) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX || v == 0) return false;
  *number = static_cast<int32_t>(v);
  return true;
}

// The value from standard input into *value: all of it, or on a terminal
// one line typed without echo. Returns false when it is longer than limit.
bool ReadValue(const char* name, std::string* value, size_t limit) {
  bool tty = ::isatty(STDIN_FILENO) != 0;
  termios saved{};
  bool echo_off = false;
  if (tty) {
    std::fprintf(stderr, "Value for %s: ", name);
    std::fflush(stderr);
    if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      echo_off = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
  }
  bool fits = true;
  char c;
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (value->size() >= limit) {
      fits = false;
      if (tty) break;
      continue;  // drain the input, keep nothing more of it
    }
    value->push_back(c);
    if (tty && c == '\n') break;
  }
  Blf_Wipe(&c, sizeof c);
  if (echo_off) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (tty) std::fputc('\n', stderr);
  if (!value->empty() && value->back() == '\n') {
    value->pop_back();
    if (!value->empty() && value->back() == '\r') value->pop_back();
  }
  return fits;
}

void WipeString(std::string* s) {
  if (!s->empty()) Blf_Wipe(s->data(), s->size());
  s->clear();
}

// FILE and NAME as a message shows them (control characters escaped).
std::string Shown(const char* text) { return Str_Shown(text, 200); }

// The job refuses longer values of its connection settings.
void WarnJobRoom(const char* name, size_t length) {
  struct Room {
    const char* name;
    size_t room;
  };
  // SCHEMA is stored with one character more than the schema takes.
  static const Room kRooms[] = {
      {"LOGIN", kCfgValueRoom}, {"PASS", kCfgValueRoom}, {"NET8", kCfgValueRoom}, {"SCHEMA", kCfgSchemaRoom + 1}};
  for (const Room& r : kRooms) {
    if (std::strcmp(name, r.name) == 0 && length > r.room) {
      std::fprintf(stderr, "dayset-conf: warning: the job takes %s values of at most %zu characters\n", Shown(name).c_str(),
                   r.room);
    }
  }
}

int Set(int argc, char** argv) {
  const char* section = "DB";
  int32_t number = 0;
  bool number_given = false;
  int i = 2;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(argv[i], "-s") == 0 && i + 1 < argc) {
      section = argv[++i];
    } else if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
      if (!ParseNumber(argv[++i], &number)) return UsageError("-n wants a non-zero whole number");
      number_given = true;
    } else {
      return UsageError("unknown option or option without its argument");
    }
  }
  int rest = argc - i;
  if (rest < 2 || rest > 3) return UsageError("set wants FILE NAME [VALUE]");
  const char* file = argv[i];
  const char* name = argv[i + 1];
  if (*section == '\0' || std::strpbrk(section, ";\r\n\x1a") != nullptr) {
    return UsageError("the section must not be empty nor hold ';', CR, LF or Ctrl-Z");
  }
  if (*name == '\0' || std::strpbrk(name, ";\r\n\x1a") != nullptr) {
    return UsageError("the name must not be empty nor hold ';', CR, LF or Ctrl-Z");
  }

  std::string value;
  bool fits = true;
  if (rest == 3) {
    value = argv[i + 2];
    fits = value.size() <= kIniPlainMax;
  } else {
    fits = ReadValue(name, &value, kIniPlainMax + 2);  // room for CR LF
    fits = fits && value.size() <= kIniPlainMax;
  }
  if (!fits) {
    WipeString(&value);
    char message[120];
    std::snprintf(message, sizeof message, "the value is too long: the job reads back at most %zu characters",
                  kIniPlainMax);
    return UsageError(message);
  }
  if (value.find('\0') != std::string::npos) {
    WipeString(&value);
    return UsageError("the value must not hold a zero byte");
  }
  if (std::strcmp(name, "NET8") == 0) {
    if (const char* allowed = Sql_Net_Check(value.c_str())) {
      // The job would refuse it; it may hold a password, so it is not shown.
      WipeString(&value);
      std::fprintf(stderr, "dayset-conf: NET8 refused, as the job would refuse it (value not shown): %s\n", allowed);
      return kExitUsage;
    }
  }
  WarnJobRoom(name, value.size());

  if (!number_given) number = Ini_Number_Free(file, name);
  int rc = Ini_Record_Put(file, section, number, name, value.c_str());
  if (rc == EINVAL) {
    WipeString(&value);
    return UsageError("section and name are too long for the lines the job reads");
  }
  if (rc != 0) {
    WipeString(&value);
    std::fprintf(stderr, "dayset-conf: cannot write %s: %s\n", Shown(file).c_str(),
                 rc == ELOOP ? "a symbolic link, refused" : std::strerror(rc));
    return kExitFailed;
  }

  struct stat st;
  if (::stat(file, &st) == 0 && (st.st_mode & 077) != 0) {
    std::fprintf(stderr, "dayset-conf: warning: %s can be read by others than its owner\n", Shown(file).c_str());
  }

  // Read it back the way the job does.
  Ini_Value_Get("", name, 0, file);
  bool same = std::strcmp(IniSatz.IniNam, name) == 0 && value == IniSatz.IniWrt;
  Blf_Wipe(IniSatz.IniWrt, sizeof IniSatz.IniWrt);
  WipeString(&value);
  if (!same) {
    std::fprintf(stderr,
                 "dayset-conf: %s: %s written, but the job's look-up of %s takes an earlier record that has "
                 "an empty section or number 0; give that record a section and a non-zero number\n",
                 Shown(file).c_str(), Shown(name).c_str(), Shown(name).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Get(int argc, char** argv) {
  if (argc != 4) return UsageError("get wants FILE NAME");
  const char* file = argv[2];
  const char* name = argv[3];
  if (::access(file, R_OK) != 0) {
    std::fprintf(stderr, "dayset-conf: cannot read %s: %s\n", Shown(file).c_str(), std::strerror(errno));
    return kExitFailed;
  }
  Ini_Value_Get("", name, 0, file);
  if (std::strcmp(IniSatz.IniNam, name) != 0) {
    bool taken = IniSatz.IniNum != 0 || IniSatz.IniSek[0] != '\0' || IniSatz.IniNam[0] != '\0';
    Blf_Wipe(IniSatz.IniWrt, sizeof IniSatz.IniWrt);
    std::fprintf(
        stderr, "dayset-conf: %s: %s not found%s\n", Shown(file).c_str(), Shown(name).c_str(),
        taken ? "; the job's look-up takes an earlier record that has an empty section or number 0" : "");
    return kExitFailed;
  }
  std::fprintf(stdout, "%s\n", IniSatz.IniWrt);
  Blf_Wipe(IniSatz.IniWrt, sizeof IniSatz.IniWrt);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (Usage_Version_Asked(argc, argv, "dayset-conf")) return 0;
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    Usage(stdout);
    return kExitOk;
  }
  if (argc >= 2 && std::strcmp(argv[1], "set") == 0) return Set(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "get") == 0) return Get(argc, argv);
  Usage(stderr);
  return kExitUsage;
}
