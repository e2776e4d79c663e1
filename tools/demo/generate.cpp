#include "demo/generate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "db/oradate.h"

namespace {

// ---------------------------------------------------------------------------
// Days, read with the job's date formats (what TO_CHAR gives in its SQL)

// A number element of a day, as TO_NUMBER(TO_CHAR(day, fmt)) reads it.
int32_t Day_Number(DemoDay day, const char* fmt, bool sunday_first) {
  char text[8];
  Ora_Date_Format(day, fmt, std::strlen(fmt), sunday_first, text, sizeof text);
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

int Iso_Weekday(DemoDay day) { return Day_Number(day, "d", false); }  // Monday 1

DemoDay Monday_On_Or_Before(DemoDay day) { return day - (Iso_Weekday(day) - 1); }

// A date column's text: yyyymmdd, or empty (NULL) for no day.
struct DayText {
  explicit DayText(std::optional<DemoDay> day) {
    if (day) Demo_Day_Text(*day, text);
  }
  char text[kDateYmdSize] = "";
};

}  // namespace

BakSatz Demo_Bak_Day(DemoDay day, bool sunday_first) {
  BakSatz b{};
  Demo_Day_Text(day, b.BakDtm);
  b.BakJhr = Day_Number(day, "yyyy", sunday_first);
  b.BakMon = Day_Number(day, "mm", sunday_first);
  b.BakTag = Day_Number(day, "dd", sunday_first);
  b.BakWch = Day_Number(day, "iw", sunday_first);
  b.BakWtg = Day_Number(day, "d", sunday_first);
  b.BakJtg = Day_Number(day, "ddd", sunday_first);
  b.BakYow = Bak_Yow_Calc(b.BakJhr, b.BakMon, b.BakWch);
  return b;
}

namespace {

// ---------------------------------------------------------------------------
// Pseudo-random numbers: splitmix64, so that a seed gives the same database
// on every platform.

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // In [0, n) for n > 0.
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  // In [lo, hi].
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Percent(int p) { return Below(100) < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<int>(N))];
  }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------------------
// The demo's fixed master data

// Day types by ISO weekday, Monday first; null: the pattern has no row.
struct WorkCalendar {
  const char* num;
  const char* types[7];
};
constexpr WorkCalendar kFirstFamily[] = {
    {"101", {"AT", "AT", "AT", "AT", "AT", "SA", "SO"}},
    {"102", {"SD", "SD", "SD", "SD", "SD", "SD", "SD"}},
    {"103", {"AT", "AT", "AT", "AT", "AT", "SA", nullptr}},
};
constexpr WorkCalendar kSecondFamily[] = {
    {"201", {"AT", "AT", "AT", "AT", "AT", "SA", "SO"}},
    {"202", {"SD", "SD", "SD", "SD", "SD", "SD", "SD"}},
    {"203", {"AT", "AT", "AT", "AT", "AT", "SA", nullptr}},
};
enum CalendarKind { kOffice = 0, kSevenDay = 1, kNoSunday = 2 };

struct PlanDay {
  const char* azt;  // planned time hhmm
  const char* vra;
};
struct TimeGroup {
  const char* num;
  int tge;  // days of the rotation
  PlanDay plan[14];
};
constexpr PlanDay kWork{"0800", "NORMAL"};
constexpr PlanDay kHalf{"0400", "TEILZEIT"};
constexpr PlanDay kFree{"0000", "FREI"};
constexpr PlanDay kEarly{"0800", "FRUEH"};
constexpr PlanDay kLate{"0800", "SPAET"};
constexpr TimeGroup kGroups[] = {
    {"GLZ", 1, {{"0800", "GLEITZEIT"}}},
    {"BUERO", 7, {kWork, kWork, kWork, kWork, kWork, kFree, kFree}},
    {"TEILZEIT", 7, {kHalf, kHalf, kHalf, kHalf, kHalf, kFree, kFree}},
    {"SCHICHT", 14,
     {kEarly, kEarly, kEarly, kEarly, kEarly, kFree, kFree, kLate, kLate, kLate, kLate, kLate, kFree,
      kFree}},
};
enum GroupIndex { kGlz = 0, kBuero = 1, kTeilzeit = 2, kSchicht = 3 };

constexpr const char* kFirstNames[] = {"Anna",  "Ben",   "Clara", "David", "Emma",   "Felix", "Greta",
                                       "Hanna", "Ida",   "Jonas", "Katrin", "Lukas", "Marie", "Niklas",
                                       "Olga",  "Paul",  "Rita",  "Simon", "Tanja",  "Uwe"};
constexpr const char* kLastNames[] = {"Bauer",   "Becker", "Berger", "Fischer", "Franke", "Hoffmann", "Keller",
                                      "Koch",    "Lang",   "Lorenz", "Meyer",   "Neumann", "Richter", "Schmidt",
                                      "Schulz",  "Vogel",  "Wagner", "Weber",   "Wolf",   "Zimmermann"};
constexpr const char* kDepartments[] = {"VERWALTUNG", "VERTRIEB", "PRODUKTION", "LAGER",
                                        "EDV",        "EINKAUF",  "PERSONAL",   "FINANZEN"};
constexpr const char* kAkrCodes[] = {"TV1", "TV2", "AUSH", "LEIT"};
constexpr const char* kAbrCodes[] = {"MON", "STD", "AUS"};
constexpr const char* kKrtCodes[] = {"K1", "K2", "K3"};

// ---------------------------------------------------------------------------
// The contents

// One employment row of a person and the group it starts with.
struct Employment {
  DemoDay gvo = 0;
  std::optional<DemoDay> gbi;
  int calendar = 0;  // index into kSecondFamily
  int group = 0;     // index into kGroups
  std::string akr, abr;
};

class Generator {
 public:
  Generator(const DemoPlan& plan, DemoRows* rows)
      : rng_(plan.seed),
        persons_(plan.persons),
        start_(plan.start),
        base_(plan.start - 1),
        today_(plan.today),
        sunday_first_(plan.sunday_first),
        rows_(rows) {
    Demo_Day_Text(today_, stamp_);
  }

  DemoCounts Run() {
    rows_->Bak_Add(Demo_Bak_Day(base_, sunday_first_), stamp_);
    WorkCalendars_Make(1, kFirstFamily);
    WorkCalendars_Make(2, kSecondFamily);
    Groups_Make();
    for (long i = 1; i <= persons_; ++i) Person_Make(i);
    return counts_;
  }

 private:
  template <size_t N>
  void WorkCalendars_Make(int family, const WorkCalendar (&calendars)[N]) {
    // The weekday numbers of the job's connection, from a week that starts
    // on a Monday.
    const DemoDay monday = Monday_On_Or_Before(base_);
    for (const WorkCalendar& cal : calendars) {
      rows_->Cal_Add(family, cal.num);
      ++counts_.calendars;
      for (int iso = 1; iso <= 7; ++iso) {
        if (cal.types[iso - 1] == nullptr) continue;
        rows_->Wch_Add(cal.num, Day_Number(monday + (iso - 1), "d", sunday_first_), cal.types[iso - 1]);
      }
      // The latest day on or before the base day that the pattern covers.
      DemoDay anchor = base_;
      while (cal.types[Iso_Weekday(anchor) - 1] == nullptr) anchor -= 1;
      rows_->Day_Add(family, cal.num, DayText(anchor).text, cal.types[Iso_Weekday(anchor) - 1], stamp_);
    }
  }

  void Groups_Make() {
    for (const TimeGroup& g : kGroups) {
      rows_->Agr_Add(g.num, g.tge);
      ++counts_.groups;
      for (int day = 1; day <= g.tge; ++day) rows_->Wpl_Add(g.num, day, g.plan[day - 1].azt, g.plan[day - 1].vra);
    }
  }

  // A group whose plan suits the calendar.
  int Group_Pick(int calendar) {
    if (calendar == kSevenDay) return kSchicht;
    if (calendar == kNoSunday) return rng_.Percent(70) ? kBuero : kTeilzeit;
    int g = rng_.Below(10);
    return g < 5 ? kBuero : g < 8 ? kGlz : kTeilzeit;
  }

  // A calendar of the second family, a group and the employment's codes.
  void Profile_Pick(Employment* e) {
    int r = rng_.Below(100);
    e->calendar = r < 60 ? kOffice : r < 80 ? kSevenDay : kNoSunday;
    e->group = Group_Pick(e->calendar);
    e->akr = rng_.Percent(85) ? rng_.Pick(kAkrCodes) : "";
    e->abr = rng_.Percent(85) ? rng_.Pick(kAbrCodes) : "";
  }

  void Employment_Make(const char* pnr, const Employment& e) {
    rows_->Bsv_Add(pnr, DayText(e.gvo).text, DayText(e.gbi).text, kSecondFamily[e.calendar].num, e.akr.c_str(),
                   e.abr.c_str());
    ++counts_.employments;
  }

  // One assignment from gvo to gbi (open when empty) to `group`. Weekly and
  // two-week rotations start on a Monday, so that rotation day 1 is a Monday.
  void Assignment_Make(const char* pnr, DemoDay gvo, std::optional<DemoDay> gbi, int group, int department) {
    const TimeGroup& g = kGroups[group];
    DemoDay sdt = g.tge == 1 ? gvo : Monday_On_Or_Before(gvo);
    int stg = g.tge == 14 && rng_.Percent(50) ? 8 : 1;
    char kst[16];
    std::snprintf(kst, sizeof kst, "%d", 1000 + department * 100 + rng_.Below(10));
    const char* krt = rng_.Percent(80) ? rng_.Pick(kKrtCodes) : "";
    char ktr[16] = "";
    if (rng_.Percent(70)) std::snprintf(ktr, sizeof ktr, "KT%02d", rng_.Below(20));
    const char* vra = rng_.Percent(30) ? "STANDARD" : "";
    const DayText from(gvo), to(gbi), rotation(sdt);
    rows_->Zuo_Add(DemoZuo{pnr, from.text, to.text, rotation.text, stg, g.num, kDepartments[department], kst, krt,
                           ktr, vra});
    ++counts_.assignments;
  }

  void Person_Make(long number) {
    char pnr[24];  // 8 digits: number is at most kDemoMaxPersons
    std::snprintf(pnr, sizeof pnr, "%08ld", number);
    std::string name = std::string(rng_.Pick(kFirstNames)) + " " + rng_.Pick(kLastNames);
    rows_->Pnr_Add(pnr, name.c_str());
    ++counts_.persons;

    Employment current;
    Profile_Pick(&current);
    int department = rng_.Below(static_cast<int>(std::size(kDepartments)));
    int kind = rng_.Below(100);
    if (kind < 80) {
      // Current: open, or ending some time after today.
      current.gvo = base_ - rng_.Below(15 * 365);
      if (rng_.Percent(15)) current.gbi = today_ + rng_.Between(30, 730);
    } else if (kind < 88) {
      // Ended before today: the job leaves the person alone.
      current.gvo = std::min(base_, today_ - 1) - rng_.Between(365, 10 * 365);
      current.gbi = today_ - rng_.Between(1, 300);
    } else {
      // An older relationship, closed the day before the newer one began, or
      // (kind 94 and up) left open: the job takes the newer one.
      current.gvo = base_ - rng_.Below(4 * 365);
      Employment older;
      Profile_Pick(&older);
      older.gvo = current.gvo - rng_.Between(2 * 365, 10 * 365);
      if (kind < 94) older.gbi = current.gvo - 1;
      Employment_Make(pnr, older);
      Assignment_Make(pnr, older.gvo, current.gvo - 1, older.group, rng_.Below(8));
    }
    Employment_Make(pnr, current);

    if (current.gbi && *current.gbi < today_) {
      Assignment_Make(pnr, current.gvo, current.gbi, current.group, department);
      return;
    }
    // Current relationships keep their last assignment open. Some change
    // group or department during the first year; a few of those overlap.
    if (rng_.Percent(40)) {
      DemoDay change = start_ + rng_.Between(30, 330);
      DemoDay first_end = change - 1;
      if (rng_.Percent(5)) first_end += rng_.Between(1, 10);
      Assignment_Make(pnr, current.gvo, first_end, current.group, department);
      int group = Group_Pick(current.calendar);
      if (rng_.Percent(50)) department = rng_.Below(static_cast<int>(std::size(kDepartments)));
      Assignment_Make(pnr, change, std::nullopt, group, department);
    } else {
      Assignment_Make(pnr, current.gvo, std::nullopt, current.group, department);
    }
  }

  Random rng_;
  long persons_;
  DemoDay start_, base_, today_;
  bool sunday_first_;
  DemoRows* rows_;
  char stamp_[kDateYmdSize];  // the rows' creation stamp: today
  DemoCounts counts_;
};

}  // namespace

DemoCounts Demo_Generate(const DemoPlan& plan, DemoRows* rows) { return Generator(plan, rows).Run(); }

void Demo_Day_Text(DemoDay day, char* out) { Ora_Date_Format(day, "yyyymmdd", 8, false, out, kDateYmdSize); }

int Demo_Day_Year(DemoDay day) { return Ora_Jd_To_Civil(day).year; }
