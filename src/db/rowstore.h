// The rows a cursor keeps (the embedded backend's Materialize): values
// appended row by row into blocks of memory and read back in order.
//
// The employment scan keeps one row per employment of the run's range, so
// the store must stay small for a hundred thousand of them: a value takes
// one byte for its kind and then its bytes (eight for a number, a length
// and the text for a text), with no padding and no per-value allocation,
// and the store grows block by block, never by copying what it holds.
// Clear keeps the blocks for the next open of the same cursor.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace sqlrt {

struct RowValue {
  enum Kind : unsigned char { kNull, kInt, kReal, kText, kBlob };
  Kind kind = kNull;
  long long i = 0;
  double d = 0;
  const char* text = "";  // kText, kBlob: `len` bytes, not NUL-terminated
  size_t len = 0;
};

class RowStore {
 public:
  // Forgets the rows; every row from now on has `columns` values.
  void Clear(size_t columns);
  // Appends one row of the `columns` values given.
  void Add(const RowValue* row);
  // Makes the next row current: false after the last (and again after).
  bool Next();
  // Value `c` of the current row; a text points into the store and stays
  // valid until Clear.
  RowValue Get(size_t c) const;

 private:
  static constexpr size_t kBlock = 64 * 1024;
  struct Block {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;  // room
    size_t used = 0;
  };
  unsigned char* Room(size_t bytes);

  size_t columns_ = 0;
  std::vector<Block> blocks_;
  size_t write_ = 0;  // the block rows are appended to
  size_t rows_ = 0;
  size_t read_rows_ = 0;
  size_t read_block_ = 0;
  size_t read_at_ = 0;               // where the next row starts in read_block_
  std::vector<const unsigned char*> current_;  // the current row's values
};

}  // namespace sqlrt
