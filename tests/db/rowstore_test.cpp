// The rows a cursor keeps come back as they went in, across the store's
// block boundaries, for texts of every length, and again after the store is
// reused for an open with other rows.
#include "db/rowstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sqlrt::RowStore;
using sqlrt::RowValue;

// Rows of three values: a number, a text of a length that varies from row
// to row (0, 1, 127, 128, 16383, 16384, 70000 bytes...) and a real or NULL.
std::vector<std::string> Texts(size_t rows) {
  const size_t lengths[] = {0, 1, 127, 128, 300, 16383, 16384, 70000, 9};
  std::vector<std::string> t;
  for (size_t r = 0; r < rows; ++r) t.push_back(std::string(lengths[r % 9], static_cast<char>('a' + r % 26)));
  return t;
}

void Fill(RowStore* s, const std::vector<std::string>& texts) {
  s->Clear(3);
  for (size_t r = 0; r < texts.size(); ++r) {
    RowValue row[3];
    row[0].kind = RowValue::kInt;
    row[0].i = -1000000000000LL + static_cast<long long>(r);
    row[1].kind = RowValue::kText;
    row[1].text = texts[r].data();
    row[1].len = texts[r].size();
    if (r % 2 == 0) {
      row[2].kind = RowValue::kReal;
      row[2].d = 2461041.5 + static_cast<double>(r);
    }
    s->Add(row);
  }
}

void Check(RowStore* s, const std::vector<std::string>& texts) {
  for (size_t r = 0; r < texts.size(); ++r) {
    ASSERT_TRUE(s->Next()) << r;
    EXPECT_EQ(s->Get(0).i, -1000000000000LL + static_cast<long long>(r));
    const RowValue t = s->Get(1);
    EXPECT_EQ(t.kind, RowValue::kText);
    EXPECT_EQ(std::string(t.text, t.len), texts[r]) << r;
    EXPECT_EQ(s->Get(2).kind, r % 2 == 0 ? RowValue::kReal : RowValue::kNull);
    if (r % 2 == 0) {
      EXPECT_EQ(s->Get(2).d, 2461041.5 + static_cast<double>(r));
    }
  }
  EXPECT_FALSE(s->Next());
  EXPECT_FALSE(s->Next());
}

TEST(RowStore, RowsComeBackInOrderAcrossBlocksAndReuse) {
  RowStore s;
  const std::vector<std::string> many = Texts(200), few = Texts(5);
  Fill(&s, many);
  Check(&s, many);
  // Reused with fewer rows, then with more again, then with none.
  Fill(&s, few);
  Check(&s, few);
  Fill(&s, many);
  Check(&s, many);
  s.Clear(1);
  EXPECT_FALSE(s.Next());
}

}  // namespace
