#include "config/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/testdb.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> out(hex.size() / 2);
  Blf_Hex_Get(hex.data(), hex.size(), out.data());
  return out;
}

std::string Hex(const unsigned char* bytes, size_t n) {
  std::string out(2 * n, '?');
  Blf_Hex_Put(bytes, n, out.data());
  return out;
}

// One block through the cipher's byte order. The published vectors take each
// half with its first byte most significant, so each half is reversed on the
// way in and again on the way out.
std::string PublishedOrder(const std::string& key_hex, const std::string& block_hex, bool encipher) {
  std::vector<unsigned char> key = Bytes(key_hex);
  std::vector<unsigned char> b = Bytes(block_hex);
  std::reverse(b.begin(), b.begin() + 4);
  std::reverse(b.begin() + 4, b.end());
  BlfTables state;
  Blf_Key_Init(&state, key.data(), key.size());
  uint32_t l = Blf_Half_Get(b.data());
  uint32_t r = Blf_Half_Get(b.data() + 4);
  if (encipher) {
    Blf_Block_Enc(&state, &l, &r);
  } else {
    Blf_Block_Dec(&state, &l, &r);
  }
  Blf_Half_Put(l, b.data());
  Blf_Half_Put(r, b.data() + 4);
  std::reverse(b.begin(), b.begin() + 4);
  std::reverse(b.begin() + 4, b.end());
  return Hex(b.data(), b.size());
}

std::string Enc(const std::string& plain, const char* key = "WOLKRAN") {
  std::vector<char> hex(Blf_Hex_Size(plain.size()));
  EXPECT_EQ(Blf_Text_Enc(plain.c_str(), hex.data(), hex.size(), key), 1);
  return hex.data();
}

// Deciphers into a target of exactly the room the whole groups need, so that
// the sanitizer sees any write past it.
std::string Dec(const std::string& hex, const char* key = "WOLKRAN") {
  std::vector<char> plain(hex.size() / 16 * 8 + 1, 'x');
  EXPECT_EQ(Blf_Text_Dec(hex.c_str(), plain.data(), plain.size(), key), 1);
  return plain.data();
}

bool StateIsZero() {
  static const BlfTables zero{};
  return std::memcmp(&BlfState, &zero, sizeof zero) == 0;
}

TEST(BlowfishTest, PublishedVectorsAndKnownValuesFromTheDataFile) {
  std::ifstream in(testdb::SourcePath("tests/data/blowfish-vectors.txt"));
  ASSERT_TRUE(in) << "tests/data/blowfish-vectors.txt";
  enum { kFixed, kVariableKey, kTextForm } section = kFixed;
  std::string variable_plain;
  int fixed = 0, variable = 0, texts = 0;
  std::string line;
  for (int no = 1; std::getline(in, line); ++no) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.find("variable key length") != std::string::npos) {
        section = kVariableKey;
        variable_plain = line.substr(line.find_last_of(' ') + 1);
        ASSERT_EQ(variable_plain.size(), 16u) << line;
      } else if (line.find("WOLKRAN") != std::string::npos) {
        section = kTextForm;
      }
      continue;
    }
    SCOPED_TRACE("line " + std::to_string(no) + ": " + line);
    if (section == kTextForm) {
      size_t tab = line.find('\t');
      ASSERT_NE(tab, std::string::npos);
      std::string plain = line.substr(0, tab);
      if (plain == "\"\"") plain.clear();
      std::string hex = line.substr(tab + 1);
      EXPECT_EQ(Enc(plain), hex);
      EXPECT_EQ(Dec(hex), plain);
      ++texts;
      continue;
    }
    std::istringstream fields(line);
    std::string key, plain, cipher, extra;
    if (section == kFixed) {
      fields >> key >> plain >> cipher;
      ++fixed;
    } else {
      fields >> key >> cipher;
      plain = variable_plain;
      ++variable;
    }
    ASSERT_FALSE(cipher.empty());
    ASSERT_FALSE(fields >> extra) << "unexpected field";
    EXPECT_EQ(PublishedOrder(key, plain, true), cipher);
    EXPECT_EQ(PublishedOrder(key, cipher, false), plain);
  }
  EXPECT_EQ(fixed, 34);
  EXPECT_EQ(variable, 24);
  EXPECT_GE(texts, 5);
}

TEST(BlowfishTest, TextFormEdgeCases) {
  struct Case {
    std::string plain;
    size_t hex_length;
  } cases[] = {
      {"", 0},
      {"a", 16},
      {"1234567", 16},
      {"12345678", 16},
      {"123456789", 32},
      {std::string(96, 'z'), 192},
      {"\x01\x7f\x80\xff;\r\n", 16},
  };
  for (const Case& c : cases) {
    std::string hex = Enc(c.plain);
    EXPECT_EQ(hex.size(), c.hex_length) << c.plain;
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
    EXPECT_EQ(Dec(hex), c.plain) << hex;
    EXPECT_TRUE(StateIsZero()) << "state left keyed after " << c.plain;
  }
  // The ninth character stands alone in a second block padded with zeros.
  std::string nine = Enc("123456789");
  EXPECT_EQ(nine.substr(0, 16), Enc("12345678"));
  EXPECT_EQ(nine.substr(16), Enc("9"));
  // Another key gives another text.
  EXPECT_NE(Enc("dayset", "WOLKRAM"), Enc("dayset"));
}

TEST(BlowfishTest, HexTextsThatAreNotWholeGroups) {
  std::string geheim = Enc("geheim");
  struct Case {
    std::string hex;
    std::string plain;
  } cases[] = {
      {"", ""},
      {"\n", ""},  // an empty configuration value as the reader hands it over
      {geheim.substr(0, 15), ""},
      {geheim + "\n", "geheim"},
      {geheim + "  ", "geheim"},
      {geheim + geheim.substr(0, 15), "geheim"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Dec(c.hex), c.plain) << "[" << c.hex << "]";
    EXPECT_TRUE(StateIsZero());
  }
  // The target is filled only as far as its room goes.
  char small[9];
  EXPECT_EQ(Blf_Text_Dec(Enc("123456789").c_str(), small, sizeof small, "WOLKRAN"), 1);
  EXPECT_STREQ(small, "12345678");
  char tight[16];
  EXPECT_EQ(Blf_Text_Enc("dayset", tight, sizeof tight, "WOLKRAN"), 0);
  EXPECT_STREQ(tight, "");
}

TEST(BlowfishTest, HexDigitsOutsideUpperCaseStillGiveBytes) {
  struct Case {
    const char* hex;
    unsigned char byte;
  } cases[] = {
      {"00", 0x00}, {"9F", 0x9F}, {"FF", 0xFF}, {"a0", 0x10},
      {"0a", 0x31}, {"ff", 0x96}, {"G0", 0x70}, {"  ", 0xF0},  // (32 - 48) * 16 + (32 - 48) modulo 256
  };
  for (const Case& c : cases) {
    unsigned char b = 0xAA;
    Blf_Hex_Get(c.hex, 2, &b);
    EXPECT_EQ(b, c.byte) << c.hex;
  }
  unsigned char odd[2] = {0xAA, 0xAA};
  Blf_Hex_Get("123", 3, odd);  // the odd last digit is not used
  EXPECT_EQ(odd[0], 0x12);
  EXPECT_EQ(odd[1], 0xAA);
  // Lower-case digits decipher without error, but not to the value.
  std::string lower = Enc("geheim");
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  ASSERT_NE(lower, Enc("geheim"));
  EXPECT_NE(Dec(lower), "geheim");
}

TEST(BlowfishTest, ZeroByteInsideADecipheredBlockEndsThePlainText) {
  unsigned char block[8] = {'a', 'b', 0, 'c', 'd', 'e', 'f', 'g'};
  Blf_Key_Init(&BlfState, reinterpret_cast<const unsigned char*>("WOLKRAN"), 7);
  uint32_t l = Blf_Half_Get(block);
  uint32_t r = Blf_Half_Get(block + 4);
  Blf_Block_Enc(&BlfState, &l, &r);
  Blf_Wipe(&BlfState, sizeof BlfState);
  Blf_Half_Put(l, block);
  Blf_Half_Put(r, block + 4);
  std::string hex = Hex(block, 8);
  EXPECT_EQ(Dec(hex + Enc("tail")), "ab");
}

TEST(BlowfishTest, EmptyKeyDoesNotFail) {
  BlfTables a, b;
  Blf_Key_Init(&a, nullptr, 0);
  unsigned char zeros[4] = {};
  Blf_Key_Init(&b, zeros, 4);  // folding in zero words changes nothing either
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(Dec(Enc("dayset", ""), ""), "dayset");
}

}  // namespace
