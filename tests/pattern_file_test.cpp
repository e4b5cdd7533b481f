#include "pattern_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// Patterns of one length may come in any order; compare in a fixed one.
PatternList normalised(PatternList list) {
  std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  return list;
}

struct Row {
  std::string file;
  PatternList valid;
  PatternList patterns;
  // Messages as (kind, line number, quoted text); kind A, B or C.
  std::vector<std::tuple<char, int, std::string>> messages;
};

}  // namespace

TEST(PatternFile, ReadsPatternsAndReportsBadLines) {
  const PatternList ab = {"a", "b"};
  const std::vector<Row> rows = {
      {"<ab>\n   <ab>   \nx<ab>y\n", {}, {"ab"}, {}},
      {"< ab >\n", ab, {}, {{'C', 1, " ab "}}},
      {"< ab >\n", {}, {" ab "}, {}},
      {"\n  \n\r\n", {}, {}, {{'A', 1, ""}, {'A', 2, "  "}, {'A', 3, "\r"}}},
      {"<>\n", ab, {}, {}},
      {"ab\n<ab\nab>\n", {}, {}, {{'A', 1, "ab"}, {'B', 2, "<ab"}, {'A', 3, "ab>"}}},
      {"<<>\n<>>\n<a>b>\n<<>>\n", {}, {"a>b", "<>", "<", ">"}, {}},
      {"<x>\n<yy>\n<x>\n", {}, {"yy", "x"}, {}},
      // The validity test comes before the repeat test.
      {"<ab>\n<abc>\n<ab>\n<abc>\n", ab, {"ab"}, {{'C', 2, "abc"}, {'C', 4, "abc"}}},
      {"<abc>\n", {}, {"abc"}, {}},
      {"<a>\n", {"ab"}, {}, {{'C', 1, "a"}}},
      // A CR at the end of a line is kept in messages and outside the brackets ignored.
      {"<a>\r\n<b\r\nc\r\n", {}, {"a"}, {{'B', 2, "<b\r"}, {'A', 3, "c\r"}}},
      {"<a\r>\n", ab, {}, {{'C', 1, "a\r"}}},
      // The last '>' before the first '<'.
      {">x<\n><\n>a<b\n<a>b<\nx>y<z>\n", {}, {"a", "z"}, {{'B', 1, ">x<"}, {'B', 2, "><"}, {'B', 3, ">a<b"}}},
      // Zero bytes are ordinary bytes.
      {"<a\0b>\n<a\0c>\n<a>\n<a\0b>\n<\0>\n"s, {}, {"a\0b"s, "a\0c"s, "a", "\0"s}, {}},
      {"<a\0b>\n"s, ab, {}, {{'C', 1, "a\0b"s}}},
      {"<a\0b>\n"s, {"a", "b", "\0"s}, {"a\0b"s}, {}},
      // Multi-byte entries: a pattern like any other; makes no byte valid.
      {"<\xc3\xa9>\n<a>\n", {}, {"\xc3\xa9", "a"}, {}},
      {"<\xc3\xa9>\n", {"\xc3\xa9"}, {}, {{'C', 1, "\xc3\xa9"}}},
      {"<ab> remark\n<cd> re>mark\n", {}, {"cd> re", "ab"}, {}},
      {"<a>\n<bb>", {}, {"bb", "a"}, {}},
      {"<a>\n\n", {}, {"a"}, {{'A', 2, ""}}},
      {"<a>\n<abcd>\n<ab>\n<abc>\n", {}, {"abcd", "abc", "ab", "a"}, {}},
  };
  Scratch temp;
  make_scratch(temp, "pattern-file");
  const std::string name = (temp.dir / "patterns.txt").string();
  for (const Row& row : rows) {
    std::ofstream(name, std::ios::binary) << row.file;
    Output messages = memory_output();
    const PatternList got = read_strings_from_file(name, row.valid, messages);
    std::string expected_messages;
    for (const auto& [kind, n, quoted] : row.messages) {
      const std::string what = kind == 'A'   ? "No starting character \"<\""
                               : kind == 'B' ? "No ending character \">\""
                                             : "Invalid character";
      expected_messages += ignored_line(what, n, quoted, name);
    }
    EXPECT_EQ(expected_messages, messages.buffer) << "file \"" << row.file << "\"";
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), compare_string_length));
    EXPECT_EQ(normalised(row.patterns), normalised(got)) << "file \"" << row.file << "\"";
  }
}

TEST(PatternFile, MissingFileIsEmptyAndSilent) {
  Scratch temp;
  make_scratch(temp, "pattern-file");
  Output messages = memory_output();
  EXPECT_TRUE(read_strings_from_file((temp.dir / "none.txt").string(), {"a"}, messages).empty());
  EXPECT_EQ("", messages.buffer);
}

TEST(PatternFile, CheckString) {
  const std::vector<std::tuple<std::string, PatternList, bool>> rows = {
      {"", {}, true},
      {"", {"a"}, true},
      {"a", {}, false},
      {"ab", {"a", "b"}, true},
      {"abc", {"b", "a"}, false},
      {"a", {"ab"}, false},
      {"ba", {"ab", "a"}, false},
      {"\0"s, {"\0"s}, true},
      {"a\0"s, {"a"}, false},
      {"\xff", {"\xff"}, true},
      {"\xff", {"\x7f"}, false},
      {"\x80", {"\0"s}, false},
  };
  for (const auto& [text, valid, expected] : rows) {
    EXPECT_EQ(expected, check_string(text, valid)) << "text \"" << text << "\"";
    EXPECT_EQ(expected, check_string(text, valid_byte_set(valid))) << "text \"" << text << "\"";
  }
}

TEST(PatternFile, CompareStringLength) {
  EXPECT_TRUE(compare_string_length("ab", "a"));
  EXPECT_TRUE(compare_string_length("a\0b"s, "zz"));
  EXPECT_FALSE(compare_string_length("a", "ab"));
  EXPECT_FALSE(compare_string_length("ab", "cd"));
  EXPECT_FALSE(compare_string_length("", ""));
}
