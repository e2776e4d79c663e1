#include "run/args.h"

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
