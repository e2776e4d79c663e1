#include "run/driver.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <string>
#include <vector>

#include "calendar/bak.h"
#include "calendar/kal.h"
#include "config/ini.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "person/pnr.h"
#include "run/args.h"
#include "run/connect.h"
#include "run/outcome.h"
#include "run/workers.h"
#include "run/tally.h"
#include "run/usage.h"
#include "base/clock.h"
#include "base/progress.h"
#include "base/runlog.h"
#include "base/stop.h"
#include "base/text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kLogName[] = "DAYSET.LOG";

// What the run did, for --metrics and --report: filled in as it goes.
RunOutcome g_run;

double Real_Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The phase now running, for its duration (Progress_Seconds' clock).
int g_phase = -1;
double g_phase_start = 0;

void Phase_Begin(int phase, const char* shown) {
  const double now = Progress_Seconds();
  if (g_phase >= 0) g_run.phase_seconds[g_phase] = now - g_phase_start;
  g_phase = phase;
  g_phase_start = now;
  if (phase >= 0) g_run.phase_ran[phase] = true;
  if (shown != nullptr) Progress_Phase(shown);
}

// The first argument of a worker process (not an option of the job).
constexpr char kWorkerOption[] = "--worker";

constexpr size_t kArgRoom = 8;      // BegDat, PnrVon, PnrBis
constexpr size_t kPfadRoom = 99;

// One line in RunLog and on standard error for a refused input. `shown` is
// the offending text, or null when it must not be shown (the password).
int Refuse(const char* what, const char* shown, size_t length, const char* allowed) {
  char line[700];
  if (shown != nullptr) {
    std::snprintf(line, sizeof line, "Error: %s ungueltig: \"%s\"! Erlaubt: %s.\n", what,
                  Str_Shown(shown, 120).c_str(), allowed);
  } else {
    std::snprintf(line, sizeof line, "Error: %s ungueltig (%zu Zeichen)! Erlaubt: %s.\n", what, length,
                  allowed);
  }
  RunLog_Printf("%s", line);
  std::fprintf(stderr, "dayset: %s", line);
  return kExitUsage;
}

int RefuseLength(const char* what, const char* shown, size_t length, size_t room) {
  char allowed[40];
  std::snprintf(allowed, sizeof allowed, "hoechstens %zu Zeichen", room);
  return Refuse(what, shown, length, allowed);
}

// The session broke in `phase` (Sql_Rt_Broken): one line naming the condition,
// the phase and the person (empty outside the person phase), in RunLog and on
// standard error; the open transaction is rolled back and nothing more runs.
//
// A stop by a signal (base/stop.h) breaks the session the same way: the line
// then names the signal, and the result is 128 + the signal's number, for
// Dayset_Main to end the process by that signal.
int Stop_Broken(const char* phase, const char* person) {
  char line[300];
  const char* sep = *person != '\0' ? " Person: " : "";
  const char* end = *person != '\0' ? "!" : "";
  const int sig = Stop_Signal();
  if (sig != 0) {
    std::snprintf(line, sizeof line, "Error: Lauf durch %s abgebrochen, nicht Abgeschlossenes zurueckgesetzt! "
                  "Phase: %s!%s%s%s\n", Stop_Signal_Name(sig), phase, sep, person, end);
  } else {
    std::snprintf(line, sizeof line, "Error: Lauf abgebrochen, Datenbank nicht nutzbar: %s! RC:%d Phase: %s!%s%s%s\n",
                  Sql_Rt_Broken(), SqlCode, phase, sep, person, end);
  }
  Sql_Rt_Disconnect();
  Progress_Done();
  RunLog_Printf("%s", line);
  std::fprintf(stderr, "dayset: %s", line);
  return sig != 0 ? 128 + sig : kExitFailed;
}

// Whether the run must end here: the session broke, or a signal asks to stop.
bool Stopped() { return Sql_Rt_Broken() != nullptr || Stop_Signal() != 0; }

// The line of a signal that ends the run before it has its session
// (Stop_Install_At_Once): nothing was done, nothing is rolled back.
constexpr char kStopAtOnceLine[] = "Error: Lauf durch %s abgebrochen, nichts getan! Phase: Anmeldung!\n";

// Catches the stop signals so that each ends the process at once, writing
// its line to standard error and, once it is open, to RunLog.
void Stop_At_Once() { Stop_Install_At_Once(kStopAtOnceLine); }

// What stands at Pfad when it is no regular file, for the refusal.
const char* File_Type_Refused(unsigned type) {
  switch (type) {
    case S_IFIFO:
      return "eine gewoehnliche Datei, kein FIFO";
    case S_IFDIR:
      return "eine gewoehnliche Datei, kein Verzeichnis";
    case S_IFCHR:
    case S_IFBLK:
      return "eine gewoehnliche Datei, kein Geraet";
    case S_IFSOCK:
      return "eine gewoehnliche Datei, kein Socket";
    default:
      return "eine gewoehnliche Datei";
  }
}

// Connects through the configuration file `Pfad` (Cfg_Connect); the schema
// goes to CurrentSchema. Returns 0, or the exit status after the refusal or
// the connect failure has been logged.
int Config_Connect(const char* Pfad, const SqlOptions& options, char* schema) {
  CfgConnect c;
  const CfgConnectResult result = Cfg_Connect(Pfad, options, &c);
  if (const char* backend = Sql_Net_Backend(c.net); backend != nullptr && Sql_Net_Check(c.net) == nullptr) {
    g_run.backend = backend;
  }
  switch (result) {
    case kCfgConnected:
      break;
    case kCfgRefused: {
      const std::string what = std::string("Konfigurationswert ") + c.name;
      return Refuse(what.c_str(), c.hidden ? nullptr : c.shown.c_str(), c.length, c.allowed.c_str());
    }
    case kCfgFileRefused:
      // A FIFO would hold the job in its open, a device or a directory is
      // no configuration: refused before any connect.
      return Refuse("Parameter Pfad", Pfad, 0, File_Type_Refused(c.file_type));
    case kCfgConnectFailed: {
      RunLog_Printf("Fehler(DB-Connect)! RC:%d ", c.rc);
      RunLog_Printf("Name:%s Pwd:*** Net:%s \n", c.login, c.net);
      // A file that could not be read connected with empty values: the
      // file is the cause, not what the empty values make of the connect.
      std::string reason;
      if (c.file_errno != 0) {
        reason = "Konfigurationsdatei \"" + Str_Shown(Pfad, 120) + "\" " +
                 (c.file_errno == ENOENT || c.file_errno == ENOTDIR ? "fehlt" : "nicht lesbar") + " (" +
                 std::strerror(c.file_errno) + ")";
      } else {
        reason = Sql_Connect_Cause(c.rc, c.net, c.schema);
      }
      if (!reason.empty()) {
        std::fprintf(stderr, "dayset: Verbindung zur Datenbank fehlgeschlagen (RC %d): %s; siehe DAYSET.LOG\n",
                     c.rc, reason.c_str());
      } else {
        std::fprintf(stderr, "dayset: Verbindung zur Datenbank fehlgeschlagen (RC %d), siehe DAYSET.LOG\n", c.rc);
      }
      return kExitFailed;
    }
  }
  Str_Copy(schema, kCfgSchemaRoom + 1, c.schema);
  Str_Copy(CurrentSchema, sizeof CurrentSchema, c.schema);
  g_run.schema = c.schema;
  return 0;
}

// The person phase split over `jobs` workers (Workers_*): the parts of the
// range, one worker each, their logs merged in order. One part, or a range
// that cannot be read, runs here as with one worker.
int Persons_Parallel(int jobs, const SqlOptions& options, const char* BegDat, const char* EndDat, const char* Pfad, const char* PnrVon,
                     const char* PnrBis) {
  std::vector<PnrRange> parts;
  const int split = Pnr_Range_Split(PnrVon, PnrBis, jobs, &parts);
  if (Stopped()) return Stop_Broken("Personen", "");
  if (split != 0 || parts.size() <= 1) {
    Pnr_Days_Extend(BegDat, EndDat, PnrVon, PnrBis);
    if (Stopped()) return Stop_Broken("Personen", Pnr_Broken_Pnr());
    return kExitOk;
  }
  const std::string clock = std::to_string(static_cast<long long>(Clock_Fixed()));
  const std::string year(EndDat, 4);
  std::vector<std::vector<std::string>> argvs;
  const std::string waits = std::to_string(options.connect_timeout_s) + "," + std::to_string(options.reply_timeout_s);
  for (size_t k = 0; k < parts.size(); ++k) {
    argvs.push_back({"dayset", kWorkerOption, std::to_string(k + 1), RunDate, clock, waits, BegDat, year, Pfad,
                     parts[k].PnrVon, parts[k].PnrBis});
  }
  // The workers report each finished person through a pipe, for the
  // progress line and the summary.
  int relay[2] = {-1, -1};
  if (pipe2(relay, O_CLOEXEC) == 0 && fcntl(relay[1], F_SETFD, 0) == 0) {
    setenv(kWorkersProgressEnv, std::to_string(relay[1]).c_str(), 1);
  }
  std::vector<Worker> workers;
  const bool started = Workers_Start(argvs, &workers);
  unsetenv(kWorkersProgressEnv);
  if (relay[1] >= 0) close(relay[1]);
  Workers_Wait(&workers, relay[0]);  // passes a stop signal on to the workers
  if (relay[0] >= 0) close(relay[0]);
  Workers_Logs_Merge(static_cast<int>(parts.size()));
  for (size_t k = 0; k < parts.size(); ++k) {
    g_run.parts.push_back(OutcomePart{parts[k].PnrVon, parts[k].PnrBis, started ? workers[k].status : 1});
  }
  if (!started) {
    RunLog_Printf("Error: Personen-Teile nicht gestartet: %s!\n", std::strerror(errno));
    std::fprintf(stderr, "dayset: Personen-Teile nicht gestartet, siehe DAYSET.LOG\n");
    return kExitFailed;
  }
  int status = kExitOk;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (workers[k].status == 0) continue;
    // The part's persons committed so far stay; a rerun completes the rest.
    char line[200];
    std::snprintf(line, sizeof line, "Error: Personen %s bis %s nicht abgeschlossen (Teil %zu, Status %d)!\n",
                  parts[k].PnrVon, parts[k].PnrBis, k + 1, workers[k].status);
    RunLog_Printf("%s", line);
    std::fprintf(stderr, "dayset: %s", line);
    status = kExitFailed;
  }
  if (Stop_Signal() != 0) return Stop_Broken("Personen", "");
  return status;
}

// argv[1..argc-1] are the positional arguments; argv[0] is not read.
int Run(const RunOptions& opts, const SqlOptions& options, int argc, char** argv) {
  if (argc != 6) {
    Usage_Lines_Print();
    RunLog_Printf("Falsche Anzahl Parameter(= 5)! AnzParam: %d\n", argc - 1);
    return kExitUsage;
  }

  char BegDat[kArgRoom + 1] = {};
  char EndDat[kDateYmdSize] = {};
  char Pfad[kPfadRoom + 1] = {};
  char PnrVon[kArgRoom + 1] = {};
  char PnrBis[kArgRoom + 1] = {};

  if (const char* allowed = Arg_BegDat_Check(argv[1])) return Refuse("Parameter BegDat", argv[1], 0, allowed);
  if (const char* allowed = Arg_EndeJahr_Check(argv[2])) {
    return Refuse("Parameter EndeJahr", argv[2], 0, allowed);
  }
  if (Arg_EndeJahr_Far(argv[2], RunDate) && !opts.far_end_year) {
    // Most likely a typing error; a run to it writes years of rows per person.
    char allowed[120];
    std::snprintf(allowed, sizeof allowed, "hoechstens %d Jahre nach dem Laufdatum, oder mit --far-end-year",
                  kEndeJahrFar);
    return Refuse("Parameter EndeJahr", argv[2], 0, allowed);
  }
  if (!Arg_Fits(argv[3], kPfadRoom)) return RefuseLength("Parameter Pfad", argv[3], 0, kPfadRoom);
  if (!Arg_Fits(argv[4], kArgRoom)) return RefuseLength("Parameter PnrVon", argv[4], 0, kArgRoom);
  if (!Arg_Fits(argv[5], kArgRoom)) return RefuseLength("Parameter PnrBis", argv[5], 0, kArgRoom);

  Str_Copy(BegDat, sizeof BegDat, argv[1]);
  std::snprintf(EndDat, sizeof EndDat, "%s1231", argv[2]);
  Str_Copy(Pfad, sizeof Pfad, argv[3]);
  Str_Copy(PnrVon, sizeof PnrVon, argv[4]);
  Str_Copy(PnrBis, sizeof PnrBis, argv[5]);

  RunLog_Printf("Datum: %s\n", RunDate);

  char schema[kCfgSchemaRoom + 1] = {};
  if (int rc = Config_Connect(Pfad, options, schema)) return rc;
  RunLog_Printf("Aktuelles Schema: %s \n", schema);
  // From here a signal stops at the next safe point (a signal that came
  // just now is seen by the check below or by the next statement).
  Stop_Defer();
  if (Stopped()) return Stop_Broken("Anmeldung", "");

  if (std::strcmp(PnrVon, "0") == 0 || std::strcmp(PnrBis, "0") == 0) {
    Str_Copy(PnrVon, sizeof PnrVon, "        ");
    Str_Copy(PnrBis, sizeof PnrBis, "zzzzzzzz");
  }

  // The counts cost a full count of each table: only when they are shown.
  const bool summary = opts.verbose || Progress_Active();
  const bool counted = summary || opts.dry_run || opts.metrics != nullptr || opts.report != nullptr;
  g_run.counted = counted;
  TallyCounts before{};
  TallyCounts after{};
  if (counted) Tally_Count(&before);
  // A dry run keeps every phase's work visible to the later phases, as the
  // commits of a real run do, and rolls it all back at the end.
  Sql_Rt_Dry_Set(opts.dry_run);

  char started[15];
  {
    const std::time_t now = Clock_Now();
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(started, sizeof started, "%Y%m%d%H%M%S", &local);
  }
  Pnr_Run_Init();
  Phase_Begin(kPhaseBaseCalendar, "Basiskalender");
  const int32_t bak_rc = Bak_Days_Extend(EndDat);
  if (Stopped()) return Stop_Broken("Basiskalender", "");
  Phase_Begin(kPhaseWorkCalendars, "Arbeitskalender");
  Kal_Days_Extend(EndDat);
  if (Stopped()) return Stop_Broken("Arbeitskalender", "");
  Phase_Begin(kPhasePersons, "Personen");
  int status = kExitOk;
  // A dry run's calendar rows are not committed: workers would not see them.
  if (opts.jobs > 1 && !opts.dry_run) {
    status = Persons_Parallel(opts.jobs, options, BegDat, EndDat, Pfad, PnrVon, PnrBis);
    if (Stopped()) return status;
  } else {
    Pnr_Days_Extend(BegDat, EndDat, PnrVon, PnrBis);
    if (Stopped()) return Stop_Broken("Personen", Pnr_Broken_Pnr());
  }
  Phase_Begin(-1, nullptr);
  Progress_Done();

  // A fresh database whose base calendar lacks its first day: the run did
  // nothing at all, and says so (the log keeps its usual line).
  if (bak_rc == kSqlNoRow && status == kExitOk && Tally_Days_Made_Since(started) == 0 && !Stopped()) {
    std::fprintf(stderr,
                 "dayset: HRSYSTEM.Hrs133Bak hat keinen Tag, von dem aus der Basiskalender fortgeschrieben werden "
                 "kann; kein Kalender- und kein Personentag angelegt. Den Tag vor dem ersten gewuenschten Tag "
                 "eintragen (siehe README, dayset-demo --help)\n");
    status = kExitFailed;
  }
  if (counted) Tally_Count(&after);
  g_run.before = before;
  g_run.after = after;
  if (opts.dry_run) {
    Sql_Rt_Dry_Set(false);
    if (int rb = Sql_Rt_Rollback(); rb != 0) {
      // -2091: the database had rolled back part of the work by itself, so
      // the counts fall short of what a real run adds. Nothing was committed.
      RunLog_Printf("Error: Rollback %d!\n", rb);
      std::fprintf(stderr, "dayset: Probelauf: Zuruecksetzen meldet RC %d, die Zahlen fehlen, siehe DAYSET.LOG\n",
                   rb);
      status = kExitFailed;
    } else {
      Tally_Report_Print(stdout, before, after);
    }
  }
  if (summary) {
    Tally_Summary_Print(stderr, before, after, opts.dry_run);
  } else {
    char cwd[4096];
    const std::string path = getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + kLogName : kLogName;
    Tally_Failures_Print(stderr, Str_Shown(path.c_str(), 300).c_str());
  }
  return status;
}

// Closes RunLog at the end of a run that ended with `rc`. Lines that could
// not be written turn a success into status 1, with one line on standard
// error; the phases' work stays committed. Returns the run's status.
int Log_Finish(const char* name, int rc) {
  Stop_Log_Fd(-1);  // its descriptor is closed now
  RunLog_Close();
  int err = 0;
  if (const long lost = RunLog_Lost(&err); lost > 0) {
    std::fprintf(stderr, "dayset: %s: %ld Zeilen nicht geschrieben: %s\n", name, lost, std::strerror(err));
    if (rc == kExitOk) rc = kExitFailed;
  }
  return rc;
}

// A run stopped by a signal ends here by that signal.
int Stop_End(int rc) {
  if (const int sig = Stop_Signal(); sig != 0 && rc == 128 + sig) {
    std::fflush(nullptr);
    Stop_Raise(sig);
  }
  return rc;
}

// Until the session stands a signal ends the process at once: the files
// it writes then, prepared now (the outcome as far as it is known), for
// each stop signal.
void Outcome_At_Once(const RunOptions& opts) {
  if (opts.metrics == nullptr && opts.report == nullptr) return;
  const double last = opts.metrics != nullptr ? Outcome_Last_Success_Read(opts.metrics) : 0;
  const char* paths[kStopFiles] = {opts.metrics, opts.report};
  for (int f = 0; f < kStopFiles; ++f) {
    if (paths[f] == nullptr) continue;
    const std::string path = paths[f];
    // Apart from the temporary of the write at the end.
    const std::string temp = Outcome_Temp_Name(path, "s");
    std::string texts[kStopSignals];
    const char* ptrs[kStopSignals];
    for (int i = 0; i < kStopSignals; ++i) {
      RunOutcome run = g_run;
      run.signal = Stop_Signal_At(i);
      run.exit_status = 128 + run.signal;
      run.dry_run = opts.dry_run;
      run.jobs = opts.jobs;
      texts[i] = f == 0 ? Outcome_Metrics_Marked(run, last) : Outcome_Report_Marked(run, last);
      ptrs[i] = texts[i].c_str();
    }
    Stop_At_Once_File(f, path.c_str(), temp.c_str(), g_run.start, ptrs);
  }
}

// Writes the files of --metrics and --report for a run that ended with
// `rc`. One that cannot be written costs a line on standard error and
// turns a success into status 1: the monitoring would otherwise show the
// last night's outcome as this one's. The log is closed by now.
int Outcome_Write(const RunOptions& opts, int rc) {
  if (opts.metrics == nullptr && opts.report == nullptr) return rc;
  g_run.end = Real_Now();
  g_run.exit_status = rc;
  g_run.signal = Stop_Signal() != 0 && rc == 128 + Stop_Signal() ? Stop_Signal() : 0;
  g_run.dry_run = opts.dry_run;
  g_run.jobs = opts.jobs;
  g_run.persons = Progress_Persons();
  g_run.failures = Tally_Failure_Kinds();
  // The last success: this run's end, or what the last metrics file holds.
  double last = opts.metrics != nullptr ? Outcome_Last_Success_Read(opts.metrics) : 0;
  if (rc == kExitOk && !opts.dry_run) last = g_run.end;
  int status = rc;
  const auto write = [&](const char* path, const std::string& text, const char* what) {
    std::string why;
    if (Outcome_File_Write(path, text, &why)) return;
    std::fprintf(stderr, "dayset: %s %s nicht geschrieben: %s\n", what, Str_Shown(path, 300).c_str(), why.c_str());
    if (status == kExitOk) status = kExitFailed;
  };
  if (opts.metrics != nullptr) write(opts.metrics, Outcome_Metrics(g_run, last), "Metriken");
  if (opts.report != nullptr) write(opts.report, Outcome_Report(g_run, last), "Bericht");
  return status;
}

// A worker of a parallel run, as Persons_Parallel starts it:
//   dayset --worker K RUNDATE CLOCK CONNECT,REPLY BegDat EndeJahr Pfad PnrVon PnrBis
// (CONNECT and REPLY: the run's connect and reply timeouts in seconds). The
// person phase for PnrVon..PnrBis in a session of its own, its log lines
// into DAYSET.LOG.K. The arguments were checked by the run.
int Worker_Main(int argc, char** argv) {
  SqlOptions options = Sql_Options_Default();
  int consumed = 0;
  if (argc != 11 || std::strlen(argv[3]) != 8 ||
      std::sscanf(argv[5], "%d,%d%n", &options.connect_timeout_s, &options.reply_timeout_s, &consumed) != 2 ||
      argv[5][consumed] != '\0' || options.connect_timeout_s < 1 || options.reply_timeout_s < 1 ||
      Arg_EndeJahr_Check(argv[7]) != nullptr || !Arg_Fits(argv[8], kPfadRoom) || !Arg_Fits(argv[9], kArgRoom) ||
      !Arg_Fits(argv[10], kArgRoom)) {
    std::fprintf(stderr, "dayset: %s: internal use of a parallel run\n", kWorkerOption);
    return kExitUsage;
  }
  Str_Copy(RunDate, sizeof RunDate, argv[3]);
  if (const long long fixed = std::atoll(argv[4]); fixed != 0) Clock_Fix(static_cast<std::time_t>(fixed));
  Stop_At_Once();
  // The run reads the persons this worker finishes from the pipe it names.
  if (const char* fd = std::getenv(kWorkersProgressEnv); fd != nullptr) {
    char* end = nullptr;
    const long n = std::strtol(fd, &end, 10);
    if (end != fd && *end == '\0' && n > 2 && n < 65536) {
      std::signal(SIGPIPE, SIG_IGN);  // a run that is gone costs no worker
      Progress_Relay_Set(static_cast<int>(n));
    }
    unsetenv(kWorkersProgressEnv);
  }
  const std::string log = Workers_Log_Name(std::atoi(argv[2]));
  std::string why;
  long holder = 0;
  RunLog = RunLog_Open(log.c_str(), LogOpen::kPart, &why, &holder);
  if (RunLog == nullptr) {
    std::fprintf(stderr, "dayset: %s kann nicht angelegt werden: %s\n", log.c_str(), why.c_str());
    return kExitFailed;
  }
  Stop_Log_Fd(fileno(RunLog));
  char EndDat[kDateYmdSize] = {};
  std::snprintf(EndDat, sizeof EndDat, "%s1231", argv[7]);
  char schema[kCfgSchemaRoom + 1] = {};
  int rc = Config_Connect(argv[8], options, schema);
  if (rc == 0) {
    Pnr_Run_Init();
    Stop_Defer();  // the session stands: from here a stop rolls back
    Pnr_Days_Extend(argv[6], EndDat, argv[9], argv[10]);
    rc = Stopped() ? Stop_Broken("Personen", Pnr_Broken_Pnr()) : kExitOk;
    Sql_Rt_Disconnect();
  }
  rc = Log_Finish(log.c_str(), rc);
  // The run counts this part's lines by their messages as written here.
  Progress_Relay_Send(RunLog_Tally_Text(std::atoi(argv[2])));
  return Stop_End(rc);
}

}  // namespace

int Dayset_Main(int argc, char** argv, const SqlOptions& options) {
  if (argc > 1 && std::strcmp(argv[1], kWorkerOption) == 0) return Worker_Main(argc, argv);
  RunOptions opts;
  const char* bad = nullptr;
  const char* allowed = nullptr;
  const int first = Arg_Options_Parse(argc, argv, &opts, &bad, &allowed);
  // Help and version leave the last run's DAYSET.LOG alone.
  if (first > 0 && opts.help) {
    Usage_Help_Print();
    return kExitOk;
  }
  if (first > 0 && opts.version) {
    Usage_Version_Print();
    return kExitOk;
  }

  Stop_At_Once();
  RunDate_Init();
  g_run = RunOutcome{};
  g_run.start = Real_Now();
  g_phase = -1;
  if (first > 0) {
    for (int i = first; i < argc; ++i) g_run.arguments.push_back(argv[i]);
  }
  std::string why;
  long holder = 0;
  RunLog = RunLog_Open(kLogName, LogOpen::kRun, &why, &holder);
  if (RunLog != nullptr) Stop_Log_Fd(fileno(RunLog));
  RunLog_Tally_Reset();
  Progress_Init();

  if (RunLog == nullptr) {
    if (holder != 0) {
      // Another run works here: its log and its database work stay untouched.
      std::fprintf(stderr, "dayset: %s wird von einem anderen Lauf geschrieben (Prozess %ld), nichts getan\n",
                   kLogName, holder);
    } else {
      std::fprintf(stderr, "dayset: %s kann nicht angelegt werden: %s\n", kLogName, why.c_str());
    }
    return Outcome_Write(opts, kExitFailed);
  }
  // The parts a killed parallel run left behind belong to the log just
  // replaced.
  for (int k = 1; k <= kJobsMax; ++k) unlink(Workers_Log_Name(k).c_str());
  SqlOptions session = options;
  if (opts.connect_timeout != 0) session.connect_timeout_s = opts.connect_timeout;
  if (opts.reply_timeout != 0) session.reply_timeout_s = opts.reply_timeout;
  g_run.connect_timeout_s = session.connect_timeout_s;
  g_run.reply_timeout_s = session.reply_timeout_s;
  if (first > 0) Outcome_At_Once(opts);
  int rc = first < 0 ? Refuse("Option", bad, 0, allowed) : Run(opts, session, argc - first + 1, argv + first - 1);
  Phase_Begin(-1, nullptr);  // a phase that a stop cut short
  return Stop_End(Outcome_Write(opts, Log_Finish(kLogName, rc)));
}
