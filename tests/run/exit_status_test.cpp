// The exit statuses as --help, the README and the manual page give them:
// every status in each, and each naming the same conditions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "testdb.h"

namespace {

// The text from `from` up to `to` (exclusive), lower-cased; empty when
// `from` is missing.
std::string Section(const std::string& text, const std::string& from, const std::string& to) {
  const size_t b = text.find(from);
  if (b == std::string::npos) return "";
  const size_t e = text.find(to, b + from.size());
  // Lower-cased, every run of white space one blank: lines break anywhere.
  std::string s;
  for (char c : text.substr(b, e == std::string::npos ? std::string::npos : e - b)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isspace(u)) {
      if (s.empty() || s.back() != ' ') s += ' ';
    } else {
      s += static_cast<char>(std::tolower(u));
    }
  }
  return s;
}

TEST(ExitStatusTest, HelpReadmeAndManualAgree) {
  std::string help;
  ASSERT_EQ(testdb::RunCommand("'" + testdb::BinaryPath("dayset") + "' --help", &help), 0);
  // The manual's dashes and the README's markup aside, the same words.
  std::string man = testdb::ReadFile(testdb::SourcePath("man/dayset.1"));
  man.erase(std::remove(man.begin(), man.end(), '\\'), man.end());
  const struct {
    const char* name;
    std::string text;
  } sources[] = {
      {"--help", Section(help, "Exit status:", "Example:")},
      {"README.md", Section(testdb::ReadFile(testdb::SourcePath("README.md")), "Exit status:", "A failed connect")},
      {"dayset(1)", Section(man, ".SH EXIT STATUS", ".SH ")},
  };
  // Each condition by a word every text uses for it.
  const char* const kWords[] = {
      // 0
      "row failures",
      // 1
      "refused", "another run", "connect", "broke down", "worker", "first", "could not be written", "rollback",
      // 2
      "option", "end year", "password",
      // 128+N
      "128+n", "sigterm", "sigint", "sighup",
  };
  for (const auto& src : sources) {
    ASSERT_FALSE(src.text.empty()) << src.name;
    for (const char* word : kWords) EXPECT_NE(src.text.find(word), std::string::npos) << src.name << ": " << word;
  }
}

}  // namespace
