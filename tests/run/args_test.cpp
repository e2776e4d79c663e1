#include "run/args.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ArgsTest, DatesOfTheCalendar) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"20041201", true},  {"20080229", true},  {"20000229", true},  {"19000228", true},
      {"00010101", true},  {"99991231", true},  {"20070229", false}, {"19000229", false},
      {"20041301", false}, {"20040001", false}, {"20040100", false}, {"20040431", false},
      {"00000101", false}, {"2004120", false},  {"200412011", false}, {"2004-1-1", false},
      {"", false},         {"2004120a", false}, {" 2004120", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Date_Ymd_Valid(c.text), c.valid) << c.text;
}

TEST(ArgsTest, StartDateAndEndYear) {
  EXPECT_EQ(Arg_BegDat_Check("0"), nullptr);
  EXPECT_EQ(Arg_BegDat_Check("20061231"), nullptr);
  for (const char* bad : {"00", "", "20061232", "x"}) EXPECT_NE(Arg_BegDat_Check(bad), nullptr) << bad;

  EXPECT_EQ(Arg_EndeJahr_Check("2006"), nullptr);
  for (const char* bad : {"206", "20066", "", "20a6", "-200"}) {
    EXPECT_NE(Arg_EndeJahr_Check(bad), nullptr) << bad;
  }
}

TEST(ArgsTest, Room) {
  EXPECT_TRUE(Arg_Fits("", 8));
  EXPECT_TRUE(Arg_Fits("12345678", 8));
  EXPECT_FALSE(Arg_Fits("123456789", 8));
  EXPECT_TRUE(Arg_Fits(std::string(99, 'p').c_str(), 99));
  EXPECT_FALSE(Arg_Fits(std::string(100, 'p').c_str(), 99));
}

}  // namespace

// Options before the arguments; the number of -j in its three spellings,
// and the refusals (the run then stops with status 2).
TEST(ArgsTest, OptionsAndTheirValues) {
  struct Case {
    std::vector<const char*> args;
    int first;  // index of the first positional argument, -1 refused
    int jobs;
    bool dry_run;
  } const cases[] = {
      {{"dayset", "0", "2027"}, 1, 1, false},
      {{"dayset", "-j", "4", "0"}, 3, 4, false},
      {{"dayset", "-nj4", "0"}, 2, 4, true},
      {{"dayset", "--jobs=64", "0"}, 2, 64, false},
      {{"dayset", "--", "-j", "2"}, 2, 1, false},
      {{"dayset", "-j", "0", "0"}, -1, 1, false},
      {{"dayset", "-j", "65", "0"}, -1, 1, false},
      {{"dayset", "-j", "2x", "0"}, -1, 1, false},
      {{"dayset", "-j"}, -1, 1, false},
      {{"dayset", "--jobs"}, -1, 1, false},
      {{"dayset", "--dry-run=1", "0"}, -1, 1, false},
      {{"dayset", "-x", "0"}, -1, 1, false},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
    RunOptions opts;
    const char* bad = nullptr;
    const char* allowed = nullptr;
    const int first = Arg_Options_Parse(static_cast<int>(argv.size()), argv.data(), &opts, &bad, &allowed);
    std::string name;
    for (const char* a : c.args) name += std::string(a) + " ";
    EXPECT_EQ(first, c.first) << name;
    if (c.first > 0) {
      EXPECT_EQ(opts.jobs, c.jobs) << name;
      EXPECT_EQ(opts.dry_run, c.dry_run) << name;
    } else {
      EXPECT_NE(allowed, nullptr) << name;
    }
  }
}
