// Reading a file by lines and by blocks of whole lines, mixed, whole or a
// range at a time: what each call hands out, row by row.
#include "line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

TEST(LineReader, HandsOutLinesAndBlocks) {
  const std::string long_line(line_block_size + 10, 'x');
  struct Row {
    std::string what;
    std::string bytes;  // the file
    std::string calls;  // 'l' next_line, 'b' next_block; the last repeats to the end
    std::vector<std::string> expected;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges = {};  // read_only each in turn
  };
  const std::vector<Row> rows = {
      {"empty file", "", "l", {}},
      {"empty file by blocks", "", "b", {}},
      {"one line", "abc\n", "l", {"abc"}},
      {"no final line feed", "a\nb", "l", {"a", "b"}},
      {"empty lines", "\n\n", "l", {"", ""}},
      {"CR before LF stays", "a\r\nb\r\n", "l", {"a\r", "b\r"}},
      {"line longer than a block", long_line + "\nend\n", "l", {long_line, "end"}},
      {"block then the last line", "a\nb\nc", "b", {"a\nb\n", "c"}},
      {"block of a line longer than a block", long_line + "\nz", "b", {long_line + "\n", "z"}},
      {"line then block", "a\nb\nc\n", "lb", {"a", "b\nc\n"}},
      {"block then line", "a\nb\nc", "bl", {"a\nb\n", "c"}},
      {"ranges one after another", "aa\nbb\ncc\ndd\n", "l", {"bb", "cc", "dd"}, {{3, 6}, {9, 3}}},
      {"range cutting lines", "aa\nbb\n", "l", {"a", "b"}, {{1, 3}}},
      {"range past the end", "aa\n", "b", {}, {{100, 5}}},
  };
  Scratch scratch;
  make_scratch(scratch, "line-reader");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    put_file(scratch, "lines", row.bytes);
    LineReader reader = open_lines((scratch.dir / "lines").string());
    std::vector<std::string> got;
    const auto read_to_end = [&] {
      std::string_view piece;
      for (std::size_t call = 0;; ++call) {
        const bool block = row.calls[std::min(call, row.calls.size() - 1)] == 'b';
        if (!(block ? next_block(reader, piece) : next_line(reader, piece))) break;
        got.emplace_back(piece);
      }
    };
    if (row.ranges.empty()) read_to_end();
    for (const auto& [offset, size] : row.ranges) {
      EXPECT_TRUE(read_only(reader, offset, size));
      read_to_end();
    }
    close_lines(reader);
    EXPECT_EQ(row.expected, got);
    EXPECT_FALSE(reader.unreadable);
  }
}
