#include "bitladder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

TEST(LineSet, InsertsEachLineOnce) {
  LineSet set;
  const std::vector<std::pair<std::string, bool>> steps = {
      {"<a>", true},     {"<a>", false},    {"", true},     {"", false},     {"<a>\0"s, true},
      {"\0<a>"s, true},  {"<a>\0"s, false}, {"<b>", true},  {"<abc>", true}, {"<abd>", true},
      {"<ab\0>"s, true}, {"<abc>", false},  {"\xff", true}, {"\x7f", true},  {"\xff", false},
  };
  for (const auto& [line, inserted] : steps) {
    EXPECT_EQ(inserted, insert_line(set, line)) << "line \"" << line << "\"";
  }
}

TEST(LineSet, GrowsForManyAndLongLines) {
  LineSet set;
  const std::string long_line(3 << 20, 'x');  // longer than one storage block
  EXPECT_TRUE(insert_line(set, long_line));
  for (int i = 0; i < 200'000; ++i) {
    if (!insert_line(set, "<pattern" + std::to_string(i) + ">")) {
      ADD_FAILURE() << "line " << i << " taken for a repeat";
      return;
    }
  }
  for (int i = 0; i < 200'000; ++i) {
    if (insert_line(set, "<pattern" + std::to_string(i) + ">")) {
      ADD_FAILURE() << "repeat of line " << i << " taken for new";
      return;
    }
  }
  EXPECT_FALSE(insert_line(set, long_line));
  EXPECT_TRUE(insert_line(set, long_line + "y"));
  EXPECT_TRUE(insert_line(set, std::string(3 << 20, 'x').replace(0, 1, "y")));
  EXPECT_TRUE(insert_line(set, "<pattern200000>"));
}
