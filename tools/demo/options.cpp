#include "demo/options.h"

#include <libpq-fe.h>

#include <cstring>
#include <string_view>

#include "db/oradate.h"
#include "db/sqlrt.h"

namespace {

// Whether `conninfo` is a connection text libpq understands, without a
// password in it: a password on the command line is in the process list.
bool Conninfo_Without_Password(const char* conninfo) {
  PQconninfoOption* options = PQconninfoParse(conninfo, nullptr);
  if (options == nullptr) return false;
  bool ok = true;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && *o->val != '\0') ok = false;
  }
  PQconninfoFree(options);
  return ok;
}

// A decimal number without sign in [0, max].
bool Number_Parse(const char* text, uint64_t max, uint64_t* value) {
  if (*text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// yyyymmdd of a real calendar date in the years 1900 to 2999, as the job
// reads its date texts (TO_DATE(:b0,'yyyymmdd')).
std::optional<double> Ymd_Parse(const char* text) {
  double jd = 0;
  if (Ora_Date_Parse(text, std::strlen(text), "yyyymmdd", 8, &jd) != 0) return std::nullopt;
  const int year = Ora_Jd_To_Civil(jd).year;
  if (year < 1900 || year > 2999) return std::nullopt;
  return jd;
}

}  // namespace

bool Demo_Net_Is_Server(const std::string& net) {
  const char* backend = Sql_Net_Backend(net.c_str());
  return backend != nullptr && std::strcmp(backend, "postgresql") == 0;
}

void Demo_Usage(FILE* out) {
  std::fprintf(out,
               "usage: dayset-demo [--persons N] [--seed S] [--start YYYYMMDD] [--net NAME]\n"
               "                   [--login ROLE] [--pg-admin CONNINFO] DIR\n"
               "       dayset-demo --calendar-only --start YYYYMMDD [--net NAME] [--pg-admin CONNINFO]\n"
               "       dayset-demo --help | --version\n"
               "Creates a demo installation: a database with work calendars, working-time groups\n"
               "and persons (HRSYSTEM.db in DIR, or schema hrsystem of a PostgreSQL database),\n"
               "and dayset.ini for the job in DIR (new, or an empty directory).\n"
               "Then run the job from within DIR:  cd DIR && dayset 0 YEAR dayset.ini 0 0\n"
               "  --persons N       persons 00000001..N, 0 to %ld (default 300)\n"
               "  --seed S          seed of the generated contents, 0 to 2^64-1 (default 1)\n"
               "  --start YYYYMMDD  first day of the calendars; the base calendar holds the day\n"
               "                    before it (default 1 January of this year)\n"
               "  --net NAME        net service name in dayset.ini, at most %zu characters\n"
               "                    (default sqlite:. : the database in the job's directory);\n"
               "                    postgresql://HOST[:PORT]/DB or pg:SERVICE: schema hrsystem is\n"
               "                    made in that database (it must not hold one yet)\n"
               "  --login ROLE      LOGIN in dayset.ini (default dayset); on PostgreSQL the role\n"
               "                    the job runs as, granted USAGE on the schema and SELECT,\n"
               "                    INSERT, UPDATE on its tables; set its password afterwards\n"
               "                    with: dayset-conf set DIR/dayset.ini PASS\n"
               "  --pg-admin CONNINFO  libpq connection of a role that may create the schema\n"
               "                    (default: NAME as the user of libpq's environment); its\n"
               "                    password from PGPASSWORD or ~/.pgpass, never in CONNINFO\n"
               "  --calendar-only   no demo: a database made from the DDL (sqlite:DIR holding\n"
               "                    HRSYSTEM.db, or a PostgreSQL database with schema hrsystem)\n"
               "                    gets the first day of its empty base calendar, the day\n"
               "                    before --start, which the job extends from; nothing else\n"
               "Weekday numbers follow NLS_TERRITORY / NLS_LANG as the job's connection does\n"
               "(AMERICA, Sunday 1, when neither is set): run the job with the same setting.\n",
               kDemoMaxPersons, kDemoNetRoom);
}

bool Demo_Args_Parse(int argc, char** argv, DemoSettings* s, bool* help) {
  auto refuse = [](const std::string& why) {
    std::fprintf(stderr, "dayset-demo: %s\n", why.c_str());
    Demo_Usage(stderr);
    return false;
  };
  bool have_dir = false;
  bool demo_only = false;  // an option that shapes the demo's contents or dayset.ini
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return true;
    }
    if (arg == "--calendar-only") {
      s->calendar_only = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg != "--persons" && arg != "--seed" && arg != "--start" && arg != "--net" && arg != "--login" &&
          arg != "--pg-admin") {
        return refuse("unknown option " + std::string(arg));
      }
      if (i + 1 >= argc) return refuse("option " + std::string(arg) + " needs a value");
      const char* value = argv[++i];
      uint64_t number = 0;
      if (arg == "--persons" || arg == "--seed" || arg == "--login") demo_only = true;
      if (arg == "--persons") {
        if (!Number_Parse(value, kDemoMaxPersons, &number)) {
          return refuse("--persons wants a number from 0 to " + std::to_string(kDemoMaxPersons));
        }
        s->persons = static_cast<long>(number);
      } else if (arg == "--seed") {
        if (!Number_Parse(value, UINT64_MAX, &number)) return refuse("--seed wants a number from 0 to 2^64-1");
        s->seed = number;
      } else if (arg == "--start") {
        s->start = Ymd_Parse(value);
        if (!s->start) return refuse("--start wants a date YYYYMMDD in the years 1900 to 2999");
      } else if (arg == "--net" || arg == "--login") {
        std::string_view text = value;
        if (text.empty() || text.size() > kDemoNetRoom) {
          return refuse(std::string(arg) + " wants 1 to " + std::to_string(kDemoNetRoom) + " characters");
        }
        for (char c : text) {
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return refuse(std::string(arg) + " holds a control character");
          }
        }
        if (arg == "--login") {
          s->login = value;
        } else if (Sql_Net_Check(value) != nullptr) {
          return refuse("--net: a PostgreSQL net service name carries no user or password (LOGIN and PASS do)");
        } else {
          s->net = value;
        }
      } else {
        if (!Conninfo_Without_Password(value)) {
          return refuse("--pg-admin wants a libpq connection without a password (PGPASSWORD or ~/.pgpass give it)");
        }
        s->pg_admin = value;
      }
      continue;
    }
    if (have_dir) return refuse("only one DIR, please");
    if (arg.empty()) return refuse("DIR is empty");
    s->dir = argv[i];
    have_dir = true;
  }
  if (s->calendar_only) {
    if (demo_only) return refuse("--calendar-only writes the base calendar alone: no --persons, --seed, --login");
    if (have_dir) return refuse("--calendar-only writes into the database of --net: no DIR");
    if (!s->start) return refuse("--calendar-only wants --start YYYYMMDD, the first day the job is to fill");
  } else if (!have_dir) {
    return refuse("DIR is missing");
  }
  if (!s->pg_admin.empty() && !Demo_Net_Is_Server(s->net)) return refuse("--pg-admin wants a PostgreSQL --net");
  return true;
}
