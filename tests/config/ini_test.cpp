#include "config/ini.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "../support/testdb.h"
#include "config/blowfish.h"

namespace {

std::string Enc(const std::string& plain) {
  std::vector<char> hex(Blf_Hex_Size(plain.size()));
  Blf_Text_Enc(plain.c_str(), hex.data(), hex.size(), "WOLKRAN");
  return hex.data();
}

std::string Show(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\x1a') {
      out += "^Z";
    } else {
      out += c;
    }
  }
  return out;
}

struct Expect {
  int32_t num;
  std::string sek, nam, wrt;
};

void ExpectSatz(const Expect& e, const std::string& what) {
  EXPECT_EQ(IniSatz.IniNum, e.num) << what;
  EXPECT_EQ(std::string(IniSatz.IniSek), e.sek) << what;
  EXPECT_EQ(std::string(IniSatz.IniNam), e.nam) << what;
  EXPECT_EQ(std::string(IniSatz.IniWrt), e.wrt) << what;
}

const Expect kReset{0, "", "", ""};

TEST(StrTest, CharPos) {
  struct Case {
    const char* text;
    int n;
    int pos;
  } cases[] = {
      {"", 1, -1},       {"abc", 1, -1},    {";", 1, 0},       {";", 2, 0},   {"a;b;c;d", 1, 1},
      {"a;b;c;d", 2, 3}, {"a;b;c;d", 3, 5}, {"a;b;c;d", 9, 5}, {"ab;", 2, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(Str_Char_Pos(c.text, ';', c.n), c.pos) << c.text << " n=" << c.n;
}

TEST(StrTest, PartCopy) {
  struct Case {
    const char* text;
    int start, length;
    size_t room;
    const char* result;
  } cases[] = {
      {"abcdef", 1, 3, 10, "bcd"},
      {"abcdef", 2, 0, 10, "cdef"},        // 0: the rest of the text
      {"abcdef", 2, -1, 10, "unchanged"},  // negative: nothing copied
      {"abcdef", -1, 2, 10, "unchanged"},
      {"abcdef", 0, 0, 4, "abc"},  // cut to the room
      {"abcdef", 1, 5, 3, "bc"},
      {"abcdef", 4, 9, 10, "ef"},  // never past the end of the text
      {"abcdef", 9, 2, 10, ""},
      {"", 0, 0, 10, ""},
  };
  for (const Case& c : cases) {
    char target[12] = "unchanged";
    Str_Part_Copy(c.text, c.start, c.length, target, c.room);
    EXPECT_STREQ(target, c.result) << c.text << " " << c.start << "," << c.length << " room " << c.room;
    EXPECT_EQ(target[11], '\0');
  }
}

TEST(IniParseTest, FieldsOfARecord) {
  std::string long_name(300, 'N');
  struct Case {
    const char* line1;
    std::string line2;
    Expect e;
  } cases[] = {
      {"x;DB;y\n", "3;LOGIN;ABCD\n", {3, "DB", "LOGIN", "ABCD"}},
      {"x;DB;y\n", "3;LOGIN;ABCD", {3, "DB", "LOGIN", "ABCD"}},  // no final line end
      {"x;DB\n", "3;LOGIN;ABCD\n", {3, "", "LOGIN", "ABCD"}},
      {"xDB\n", "3;LOGIN;ABCD\n", {3, "", "LOGIN", "ABCD"}},
      {"a;;b\n", "3;LOGIN;ABCD\n", {3, ";b\n", "LOGIN", "ABCD"}},
      {"a;;b", "3;LOGIN;ABCD\n", {3, ";b", "LOGIN", "ABCD"}},
      {";DB;\n", "5;NAME;AB;CD\n", {5, "DB", "NAME", "AB;CD"}},
      {";DB;\n", "5;NAME;AB  \n", {5, "DB", "NAME", "AB  "}},
      {";DB;\n", "5;NAME;\n", {5, "DB", "NAME", "\n"}},
      {";DB;\n", "5;NAME;", {5, "DB", "NAME", "\n"}},
      {";DB;\n", "5;;AB\n", {5, "DB", ";AB\n", "AB"}},
      {";DB;\n", "5;NAME\n", {5, "DB", "", "NAME"}},
      {";DB;\n", "ABCD\n", {0, "DB", "", "ABCD\n"}},
      {";DB;\n", ";NAME;AB\n", {0, "DB", "NAME", "AB"}},
      {";DB;\n", "x;NAME;AB\n", {0, "DB", "NAME", "AB"}},
      {";DB;\n", "  -12x;NAME;AB\n", {-12, "DB", "NAME", "AB"}},
      {";DB;\n", "+7;NAME;AB\n", {7, "DB", "NAME", "AB"}},
      {";DB;\n", "2147483647;N;A\n", {2147483647, "DB", "N", "A"}},
      {";DB;\n", "99999999999;N;A\n", {2147483647, "DB", "N", "A"}},
      {";DB;\n", "-99999999999;N;A\n", {-2147483647 - 1, "DB", "N", "A"}},
      {";DB;\n", "000000000001234;N;A\n", {0, "DB", "N", "A"}},  // 11 characters of number text
      {";DB;\n", "1;" + long_name + ";AB\n", {1, "DB", std::string(200, 'N'), "AB"}},
      {";DB;\n", "1;N;" + std::string(250, 'A') + "\n", {1, "DB", "N", std::string(200, 'A')}},
  };
  for (const Case& c : cases) {
    IniRecord rec{};
    Ini_Record_Parse(c.line1, c.line2.c_str(), &rec);
    std::string what = Show(c.line1) + " | " + Show(c.line2);
    EXPECT_EQ(rec.IniNum, c.e.num) << what;
    EXPECT_EQ(std::string(rec.IniSek), c.e.sek) << what;
    EXPECT_EQ(std::string(rec.IniNam), c.e.nam) << what;
    EXPECT_EQ(std::string(rec.IniWrt), c.e.wrt) << what;
  }
}

class IniFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    testdb::WriteFile(path_, bytes);
    return path_;
  }
  testdb::TempDir dir_;
  std::string path_ = dir_.file("dayset.ini");
};

TEST_F(IniFileTest, LookUps) {
  const std::string dayset_hex = Enc("dayset");
  const std::string geheim_hex = Enc("geheim");
  const std::string two = "x;DB;y\n3;LOGIN;" + dayset_hex + "\nx;DB;y\n4;PASS;" + geheim_hex + "\n";
  struct Case {
    const char* what;
    std::string file;
    const char* name;
    Expect e;
  } cases[] = {
      {"empty file", "", "LOGIN", kReset},
      {"single line", "x;DB;y\n", "LOGIN", kReset},
      {"taken by name", two, "LOGIN", {3, "DB", "LOGIN", "dayset"}},
      {"second record", two, "PASS", {4, "DB", "PASS", "geheim"}},
      {"not there", two, "NET8", kReset},
      {"third line not examined", "x;DB;y\n3;LOGIN;" + dayset_hex + "\nx;y\n", "PASS", kReset},
      {"lower case name", "x;DB;y\n3;login;" + dayset_hex + "\n", "LOGIN", kReset},
      {"name with a blank", "x;DB;y\n3;LOGIN ;" + dayset_hex + "\n", "LOGIN", kReset},
      {"number 0 taken for any name",
       "x;DB;y\n0;LOGIN;" + dayset_hex + "\n" + two,
       "PASS",
       {0, "DB", "LOGIN", "dayset"}},
      {"number without digits",
       "x;DB;y\nab;LOGIN;" + dayset_hex + "\n",
       "PASS",
       {0, "DB", "LOGIN", "dayset"}},
      {"one ';' in first line", "x;DB\n3;LOGIN;" + dayset_hex + "\n", "PASS", {3, "", "LOGIN", "dayset"}},
      {"no ';' in first line", "DB\n3;LOGIN;" + dayset_hex + "\n", "PASS", {3, "", "LOGIN", "dayset"}},
      {"a;;b is a section", "a;;b\n3;LOGIN;" + dayset_hex + "\n", "PASS", kReset},
      {"first match wins", "x;DB;y\n1;PASS;" + dayset_hex + "\n" + two, "PASS", {1, "DB", "PASS", "dayset"}},
      {"CRLF",
       "x;DB;y\r\n3;LOGIN;" + dayset_hex + "\r\nx;DB;y\r\n4;PASS;" + geheim_hex + "\r\n",
       "PASS",
       {4, "DB", "PASS", "geheim"}},
      {"lone CR stays", "x;DB\r;y\n4;PASS;" + geheim_hex + "\n", "PASS", {4, "DB\r", "PASS", "geheim"}},
      {"no final line end", "x;DB;y\n4;PASS;" + geheim_hex, "PASS", {4, "DB", "PASS", "geheim"}},
      {"Ctrl-Z ends the file", "x;DB;y\n3;LOGIN;" + dayset_hex + "\n\x1ax;DB;y\n4;PASS;" + geheim_hex + "\n",
       "PASS", kReset},
      {"Ctrl-Z inside the value",
       "x;DB;y\n4;PASS;" + geheim_hex + "\x1a" + "0000\n",
       "PASS",
       {4, "DB", "PASS", "geheim"}},
      {"trailing blanks", "x;DB;y\n4;PASS;" + geheim_hex + "   \n", "PASS", {4, "DB", "PASS", "geheim"}},
      {"empty value", "x;DB;y\n4;PASS;\n", "PASS", {4, "DB", "PASS", ""}},
      {"empty value at the end", "x;DB;y\n4;PASS;", "PASS", {4, "DB", "PASS", ""}},
      {"value not hex", "x;DB;y\n4;PASS;xyz\n", "PASS", {4, "DB", "PASS", ""}},
      {"zero byte in a line",
       std::string("x;DB;y\n4;PASS;") + geheim_hex + '\0' + "junk\n",
       "PASS",
       {4, "DB", "PASS", "geheim"}},
  };
  for (const Case& c : cases) {
    Ini_Value_Get("", c.name, 0, Write(c.file).c_str());
    ExpectSatz(c.e, std::string(c.what) + ": " + Show(c.file));
    static const BlfTables zero{};
    EXPECT_EQ(std::memcmp(&BlfState, &zero, sizeof zero), 0) << "cipher state not wiped: " << c.what;
  }
}

TEST_F(IniFileTest, LongLinesAreReadInPieces) {
  const std::string geheim_hex = Enc("geheim");
  // 198 characters and the line feed fit the first read.
  std::string fits = "x;DB;" + std::string(193, 'a') + "\n";
  Ini_Value_Get("", "PASS", 0, Write(fits + "4;PASS;" + geheim_hex + "\n").c_str());
  ExpectSatz({4, "DB", "PASS", "geheim"}, "198 characters");
  // One more, and the line feed alone becomes the record's second line: it
  // has number 0, so the driver's look-up takes it, whatever is asked.
  std::string split = "x;DB;" + std::string(194, 'a') + "\n";
  Ini_Value_Get("", "PASS", 0, Write(split + "4;PASS;" + geheim_hex + "\n").c_str());
  ExpectSatz({0, "DB", "", ""}, "199 characters");
  // The record's own second line is now a first line: PASS its section.
  Ini_Value_Get("PASS", "NONE", 5, Write(split + "4;PASS;" + geheim_hex + "\nx;DB;y\n").c_str());
  ExpectSatz({0, "PASS", "DB", ""}, "pairing shifted");
  // A second line over 399 characters leaves its rest as the next first
  // line, with an empty section: the next record is taken for any name.
  std::string longer = "x;DB;y\n1;NAME;" + std::string(400, 'A') + "\n" + "4;PASS;" + geheim_hex + "\n";
  Ini_Value_Get("", "NET8", 0, Write(longer).c_str());
  ExpectSatz({4, "", "PASS", "geheim"}, "rest of a long second line");
  // A value cut to 200 characters deciphers its 12 whole groups.
  std::string big = Enc(std::string(96, 'v'));
  Ini_Value_Get("", "BIG", 0, Write("x;DB;y\n1;BIG;" + big + Enc("more") + "\n").c_str());
  ExpectSatz({1, "DB", "BIG", std::string(96, 'v')}, "value over 200 characters");
}

TEST_F(IniFileTest, EveryCallStartsReset) {
  Ini_Value_Get("", "PASS", 0, Write("x;DB;y\n4;PASS;" + Enc("geheim") + "\n").c_str());
  ASSERT_STREQ(IniSatz.IniWrt, "geheim");
  Ini_Value_Get("", "NET8", 0, path_.c_str());
  ExpectSatz(kReset, "not found after a hit");
  Ini_Value_Get("", "PASS", 0, Write("x;DB;y\n4;PASS;" + Enc("geheim") + "\n").c_str());
  Ini_Value_Get("", "PASS", 0, dir_.file("missing.ini").c_str());
  ExpectSatz(kReset, "missing file after a hit");
  Ini_Value_Get("DB", "", 4, path_.c_str());  // by section and by number as well
  ExpectSatz({4, "DB", "PASS", "geheim"}, "section");
}

// What stands at the configuration's name decides before anything is read:
// only a regular file (also behind a symbolic link) is opened. Each look-up
// runs in a child with an alarm, so that one that waits on the FIFO fails
// here instead of holding the suite.
TEST_F(IniFileTest, OnlyARegularFileIsRead) {
  const std::string record = "x;DB;y\n4;PASS;" + Enc("geheim") + "\n";
  Write(record);
  ASSERT_EQ(mkfifo(dir_.file("fifo.ini").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir_.file("dir.ini").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir_.file("fifo.ini").c_str(), dir_.file("fifolink.ini").c_str()), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = dir_.file("sock.ini");
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  struct Case {
    std::string path;
    unsigned type;  // 0: a regular file, or none at all
    int err;
    bool read;
  } cases[] = {
      {path_, 0, 0, true},
      {dir_.file("fifo.ini"), S_IFIFO, 0, false},
      {dir_.file("fifolink.ini"), S_IFIFO, 0, false},
      {dir_.file("dir.ini"), S_IFDIR, 0, false},
      {"/dev/null", S_IFCHR, 0, false},
      {sock_path, S_IFSOCK, 0, false},
      {dir_.file("missing.ini"), 0, ENOENT, false},
      {path_ + "/below", 0, ENOTDIR, false},
  };
  for (const Case& c : cases) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      alarm(5);
      int err = -1;
      unsigned type = 1;
      const int fd = Ini_File_Open(c.path.c_str(), &err, &type);
      const bool opened_right = (fd >= 0) == c.read && err == c.err && type == c.type;
      const bool read = Ini_Value_Get("", "PASS", 0, c.path.c_str());
      const bool value_right = std::string(IniSatz.IniWrt) == (c.read ? "geheim" : "");
      _exit((opened_right ? 0 : 1) | (read == c.read ? 0 : 2) | (value_right ? 0 : 4));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << c.path << ": ended by signal " << WTERMSIG(status);
    // 1: Ini_File_Open, 2: what Ini_Value_Get returned, 4: the value it left.
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << c.path;
  }
  close(sock);
}

// ---------------------------------------------------------------------------

TEST_F(IniFileTest, PutCreatesAFileTheDriverReads) {
  const char* path = path_.c_str();
  ASSERT_EQ(Ini_Record_Put(path, "DB", 1, "LOGIN", "dayset"), 0);
  ASSERT_EQ(Ini_Record_Put(path, "DB", 2, "PASS", "geheim"), 0);
  ASSERT_EQ(Ini_Record_Put(path, "DB", 3, "NET8", ""), 0);
  ASSERT_EQ(Ini_Record_Put(path, "DB", 4, "SCHEMA", "hrsystemx"), 0);
  struct stat st;
  ASSERT_EQ(stat(path, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(testdb::ReadFile(path),
            "LOGIN;DB;\n1;LOGIN;" + Enc("dayset") + "\nPASS;DB;\n2;PASS;" + Enc("geheim") +
                "\n"
                "NET8;DB;\n3;NET8;\nSCHEMA;DB;\n4;SCHEMA;40532A6A9EAE0B8E944D1132B167D3AB\n");
  const char* expect[][2] = {{"LOGIN", "dayset"}, {"PASS", "geheim"}, {"NET8", ""}, {"SCHEMA", "hrsystemx"}};
  for (auto& e : expect) {
    Ini_Value_Get("", e[0], 0, path);
    EXPECT_STREQ(IniSatz.IniNam, e[0]);
    EXPECT_STREQ(IniSatz.IniWrt, e[1]) << e[0];
  }
  std::string longest(kIniPlainMax, '~');
  ASSERT_EQ(Ini_Record_Put(path, "DB", 2, "PASS", longest.c_str()), 0);
  Ini_Value_Get("", "PASS", 0, path);
  EXPECT_EQ(std::string(IniSatz.IniWrt), longest);
  EXPECT_EQ(Ini_Number_Free(path, "PASS"), 2);
  EXPECT_EQ(Ini_Number_Free(path, "OTHER"), 5);
  EXPECT_EQ(Ini_Number_Free(dir_.file("none.ini").c_str(), "PASS"), 1);
}

TEST_F(IniFileTest, PutReplacesAndKeepsTheRestByteForByte) {
  const std::string head = "; comment;line;\r\n9;comment;\r\n";
  const std::string login = "x;DB;y\r\n3;LOGIN;" + Enc("dayset") + "\r\n";
  const std::string pass = "x;DB;y\r\n4;PASS;" + Enc("geheim") + "\r\n";
  const std::string tail = "x;DB;y\n5;NET8;" + Enc("hrsnet") + "\x1a" + "after the end\n";
  Write(head + login + pass + tail);
  chmod(path_.c_str(), 0640);
  ASSERT_EQ(Ini_Record_Put(path_.c_str(), "DB", 4, "PASS", "lion"), 0);
  EXPECT_EQ(testdb::ReadFile(path_), head + login + "PASS;DB;\r\n4;PASS;" + Enc("lion") + "\r\n" + tail);
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // A new record goes before the Ctrl-Z, with a line end for the last line.
  ASSERT_EQ(Ini_Record_Put(path_.c_str(), "DB", 6, "SCHEMA", "hrsystemx"), 0);
  std::string net8 = "x;DB;y\n5;NET8;" + Enc("hrsnet");
  EXPECT_EQ(testdb::ReadFile(path_), head + login + "PASS;DB;\r\n4;PASS;" + Enc("lion") + "\r\n" + net8 +
                                         "\r\nSCHEMA;DB;\r\n6;SCHEMA;" + Enc("hrsystemx") + "\r\n\x1a" +
                                         "after the end\n");
  Ini_Value_Get("", "NET8", 0, path_.c_str());
  EXPECT_STREQ(IniSatz.IniWrt, "hrsnet");
  Ini_Value_Get("", "SCHEMA", 0, path_.c_str());
  EXPECT_STREQ(IniSatz.IniWrt, "hrsystemx");
}

TEST_F(IniFileTest, PutKeepsThePairingOfOddFiles) {
  const std::string login = "x;DB;y\n3;LOGIN;" + Enc("dayset") + "\n";
  struct Case {
    const char* what;
    std::string before, after;
  } cases[] = {
      {"unpaired last line", login + "x;DB;y\n", login + "PASS;DB;\n9;PASS;" + Enc("geheim") + "\nx;DB;y\n"},
      {"no final line end", login.substr(0, login.size() - 1),
       login + "PASS;DB;\n9;PASS;" + Enc("geheim") + "\n"},
      {"lone CR at the end", login.substr(0, login.size() - 1) + "\r",
       login.substr(0, login.size() - 1) + "\r\r\nPASS;DB;\n9;PASS;" + Enc("geheim") + "\n"},
  };
  for (const Case& c : cases) {
    Write(c.before);
    ASSERT_EQ(Ini_Record_Put(path_.c_str(), "DB", 9, "PASS", "geheim"), 0) << c.what;
    EXPECT_EQ(Show(testdb::ReadFile(path_)), Show(c.after)) << c.what;
    Ini_Value_Get("", "PASS", 0, path_.c_str());
    EXPECT_STREQ(IniSatz.IniWrt, "geheim") << c.what;
    Ini_Value_Get("", "LOGIN", 0, path_.c_str());
    EXPECT_EQ(IniSatz.IniNum, 3) << c.what;
  }
  // A second line cut exactly at the read limit: the next read starts
  // afresh, so no line end may be put in between.
  std::string cut = "x;DB;y\n1;LONG;" + std::string(399 - 7, 'A');
  Write(cut);
  ASSERT_EQ(Ini_Record_Put(path_.c_str(), "DB", 9, "PASS", "geheim"), 0);
  EXPECT_EQ(testdb::ReadFile(path_), cut + "PASS;DB;\n9;PASS;" + Enc("geheim") + "\n");
  Ini_Value_Get("", "PASS", 0, path_.c_str());
  EXPECT_STREQ(IniSatz.IniWrt, "geheim");
}

TEST_F(IniFileTest, PutRefuses) {
  std::string too_long(kIniPlainMax + 1, 'v');
  std::string long_name(197, 'N');  // with section DB over the first line's limit
  struct Case {
    const char* section;
    int32_t number;
    const char* name;
    const char* value;
    int rc;
  } cases[] = {
      {"", 1, "PASS", "v", EINVAL},       {nullptr, 1, "PASS", "v", EINVAL},
      {"DB", 0, "PASS", "v", EINVAL},     {"DB", 1, "", "v", EINVAL},
      {"DB", 1, "PA;SS", "v", EINVAL},    {"D;B", 1, "PASS", "v", EINVAL},
      {"DB", 1, "PASS\n", "v", EINVAL},   {"DB\r", 1, "PASS", "v", EINVAL},
      {"DB", 1, "PA\x1aSS", "v", EINVAL}, {"DB", 1, "PASS", too_long.c_str(), EINVAL},
      {"DB", 1, "PASS", nullptr, EINVAL}, {"DB", 1, long_name.c_str(), "v", EINVAL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ini_Record_Put(path_.c_str(), c.section, c.number, c.name, c.value), c.rc)
        << (c.section ? c.section : "null") << " " << c.number << " " << (c.name ? c.name : "null");
  }
  EXPECT_NE(access(path_.c_str(), F_OK), 0) << "a refused record must not create the file";
  EXPECT_EQ(Ini_Record_Put(dir_.file("no/such/dir.ini").c_str(), "DB", 1, "PASS", "v"), ENOENT);
}

}  // namespace
