#include <gtest/gtest.h>

#include "scratch.h"

namespace {

// Seeds the four input files of patterntally.
void seed(const Scratch& s, const std::string& valid, const std::string& recurrent,
          const std::string& start, const std::string& corpus) {
  put_file(s, "patterns_valid_chars.txt", valid);
  put_file(s, "patterns_recurrent.txt", recurrent);
  put_file(s, "patterns_start.txt", start);
  put_file(s, "websites.txt", corpus);
}

}  // namespace

TEST(Patterntally, WalkThroughLine) {
  Scratch s;
  make_scratch(s, "walk");
  seed(s, "<a>\n<b>\n<c>\n<d>\n<e>\n<x>\n<:>\n", "<cd>\n<cde>\n", "<ab:>\n", "  ab:cdecdx#\n");
  const RunResult r = run_in(s, patterntally);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(
      "- Invalid character \"#\" in line 1 (\"ab:cdecdx#\") in file \"websites.txt\": "
      "IGNORING CHARACTER\n",
      r.out);
  EXPECT_EQ("1\t<x>\n1\t<cd>\n1\t<cde>\n0\t<:>\n0\t<a>\n0\t<b>\n0\t<c>\n0\t<d>\n0\t<e>\n",
            get_file(s, "patterns_and_frequencies.txt"));
  EXPECT_EQ("<x>\n<cd>\n<cde>\n<:>\n<a>\n<b>\n<c>\n<d>\n<e>\n",
            get_file(s, "patterns_ordered_by_frequency.txt"));
}
