#include "ranking.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

// Listed in ranked order: higher count first, then shorter, then ascending
// unsigned bytes (zero bytes included, whole strings compared).
TEST(Ranking, CompareFrequencyWordIsTheRankedOrder) {
  const RankedList ranked = {
      {"zzz", 5'000'000'000},
      {"zz", 3},
      {"a", 2},
      {"\0"s, 1},
      {"b", 1},
      {"\x80", 1},
      {"\xff", 1},
      {"ab", 1},
      {"a\0b"s, 1},
      {"a\0c"s, 1},
      {"ab\0"s, 1},
      {"a\xff\xff", 1},
      {"b\0\0"s, 1},
      {"a", 0},
      {"a\0"s, 0},
      {"x", -1},
  };
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    EXPECT_FALSE(compare_frequency_word(ranked[i], ranked[i])) << i;
    for (std::size_t j = i + 1; j < ranked.size(); ++j) {
      EXPECT_TRUE(compare_frequency_word(ranked[i], ranked[j])) << i << " before " << j;
      EXPECT_FALSE(compare_frequency_word(ranked[j], ranked[i])) << j << " after " << i;
    }
  }
}

TEST(Ranking, WritesBothReportsInRankedOrder) {
  const FrequencyTable table = {
      {"b", 5},        {"a", 5},      {"ab", 5},
      {"zz", 3},       {">", 0},      {"<", 0},
      {"\xc3\xa9", 0}, {"a\0b"s, 12}, {"x", 5'000'000'000},
      {"a\0a"s, 12},
  };
  Output report = memory_output();
  Output ranked = memory_output();
  write_ranked_reports(table, report, ranked);
  EXPECT_EQ(
      "5000000000\t<x>\n12\t<a\0a>\n12\t<a\0b>\n5\t<a>\n5\t<b>\n5\t<ab>\n3\t<zz>\n"
      "0\t<<>\n0\t<>>\n0\t<\xc3\xa9>\n"s,
      report.buffer);
  EXPECT_EQ("<x>\n<a\0a>\n<a\0b>\n<a>\n<b>\n<ab>\n<zz>\n<<>\n<>>\n<\xc3\xa9>\n"s, ranked.buffer);
}
