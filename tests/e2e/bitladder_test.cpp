#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string absent = "(absent)";  // no input file at all

// The first `count` codes: generation L+1 is "10" before each code of
// generation L-1, then "1" before each code of generation L.
std::vector<std::string> codes(std::size_t count) {
  std::vector<std::vector<std::string>> generations = {{}, {"1"}, {"11"}};
  std::vector<std::string> all = {"1", "11"};
  while (all.size() < count) {
    std::vector<std::string> next;
    for (const std::string& c : generations[generations.size() - 2]) next.push_back("10" + c);
    for (const std::string& c : generations.back()) next.push_back("1" + c);
    all.insert(all.end(), next.begin(), next.end());
    generations.push_back(std::move(next));
  }
  all.resize(count);
  return all;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

struct Case {
  std::string input, out, map;
};

}  // namespace

TEST(Bitladder, CodesEachDistinctLine) {
  using namespace std::string_literals;
  std::vector<Case> cases = {
      {"<a>\n<b>\n<a>\n<c>\n", repeated("<a>") + codes_summary(3, 3), "1 <a>\n11 <b>\n101 <c>\n"},
      {"<a>\n  <a>\t\n<a>\r\n <b> \r\n<a b>\n", repeated("<a>") + repeated("<a>") + codes_summary(3, 3),
       "1 <a>\n11 <b>\n101 <a b>\n"},
      {"<a>\n\n<b>", repeated("") + codes_summary(2, 2), "1 <a>\n11 <b>\n"},
      {"\n<a>\n", repeated("") + codes_summary(1, 1), "1 <a>\n"},
      {"", codes_summary(0, 0), ""},
      {absent, codes_summary(0, 0), ""},
      {"\n \r\n", repeated("") + repeated("") + codes_summary(0, 0), ""},
      {"<a\0>\n<a>\n<\xff>\n<\xff>\n\v<a>\n"s, repeated("<\xff>") + codes_summary(4, 3),
       "1 <a\0>\n11 <a>\n101 <\xff>\n111 \v<a>\n"s},
  };
  // One, two, four and seven lines end whole generations of lengths 1 to 4;
  // 30,000 lines span many blocks of input.
  const std::vector<std::string> first = codes(30'000);
  for (const std::size_t n :
       {std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{7}, std::size_t{30'000}}) {
    Case c{"", codes_summary(n, first[n - 1].size()), ""};
    for (std::size_t i = 0; i < n; ++i) {
      c.input += "<p" + std::to_string(i) + ">\n";
      c.map += first[i] + " <p" + std::to_string(i) + ">\n";
    }
    cases.push_back(c);
  }
  const std::string long_line = "<" + std::string(700'000, 'x') + ">";
  cases.push_back({long_line + "\n<b>\n" + long_line, repeated(long_line) + codes_summary(2, 2),
                   "1 " + long_line + "\n11 <b>\n"});
  for (const Case& c : cases) {
    Scratch s;
    make_scratch(s, "bitladder");
    if (c.input != absent) put_file(s, ranked_file, c.input);
    const RunResult r = run_in(s, bitladder);
    const std::string input = c.input.substr(0, 40);
    EXPECT_EQ(0, r.status) << input;
    EXPECT_EQ(c.input == absent ? missing_note("bitladder", ranked_file) : "", r.err) << input;
    EXPECT_EQ(c.out, r.out) << input;
    EXPECT_EQ(c.map, get_file(s, "map_varicodes.txt")) << input;
  }
}

TEST(Bitladder, ReportsFailuresAndCarriesOn) {
  const std::string full = std::strerror(ENOSPC);
  const std::string is_dir = std::strerror(EISDIR);
  const std::string out = repeated("<a>") + codes_summary(2, 2);
  const std::string map = "1 <a>\n11 <b>\n";
  struct Row {
    std::string blocked;  // made a directory, or a link to /dev/full
    bool to_full;
    std::string redirect;  // of standard output
    std::string err, out, map;
  };
  const std::vector<Row> rows = {
      {"map_varicodes.txt", false, "", "cannot write \"map_varicodes.txt\": " + is_dir, out, ""},
      {"map_varicodes.txt", true, "", "cannot write \"map_varicodes.txt\": " + full, out, ""},
      // Nothing read: no summary, and the code map as it was.
      {ranked_file, false, "", "cannot read \"" + std::string(ranked_file) + "\": " + is_dir, "",
       "<missing>"},
      {"", false, ">/dev/full", "cannot write standard output: " + full, "", map},
  };
  for (const Row& row : rows) {
    Scratch s;
    make_scratch(s, "bitladder-failure");
    if (row.blocked != ranked_file) put_file(s, ranked_file, "<a>\n<b>\n<a>\n");
    if (row.to_full) {
      fs::create_symlink("/dev/full", s.dir / row.blocked);
    } else if (!row.blocked.empty()) {
      fs::create_directory(s.dir / row.blocked);
    }
    const RunResult r = run_in(s, bitladder, row.redirect);
    EXPECT_EQ(1, r.status) << row.err;
    EXPECT_EQ("bitladder: " + row.err + "\n", r.err);
    EXPECT_EQ(row.out, r.out) << row.err;
    if (row.blocked != "map_varicodes.txt") {
      EXPECT_EQ(row.map, get_file(s, "map_varicodes.txt")) << row.err;
    }
  }
}

// The whole pipeline on the shipped example: every ranked pattern gets the
// next code, in ranked order, the most frequent one '1'.
TEST(Pipeline, ShippedExample) {
  Scratch s;
  make_scratch(s, "pipeline");
  for (const char* name :
       {"websites.txt", "patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, s.dir / name);
  }
  const RunResult tally = run_in(s, patterntally);
  ASSERT_EQ(0, tally.status);
  EXPECT_EQ("", tally.err);
  const auto ranked = lines_of(get_file(s, "patterns_ordered_by_frequency.txt"));
  const auto report = lines_of(get_file(s, "patterns_and_frequencies.txt"));
  ASSERT_GT(ranked.size(), 100u);
  ASSERT_EQ(ranked.size(), report.size());
  long long previous_count = std::numeric_limits<long long>::max();
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const std::size_t tab = report[i].find('\t');
    ASSERT_NE(std::string::npos, tab);
    EXPECT_EQ(ranked[i], report[i].substr(tab + 1));
    const long long count = std::stoll(report[i].substr(0, tab));
    EXPECT_LE(count, previous_count) << report[i];
    previous_count = count;
  }

  const RunResult ladder = run_in(s, bitladder);
  EXPECT_EQ(0, ladder.status);
  EXPECT_EQ("", ladder.err);
  const std::vector<std::string> expected_codes = codes(ranked.size());
  std::string expected_map;
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    expected_map += expected_codes[i] + " " + ranked[i] + "\n";  // the first gets '1'
  }
  EXPECT_EQ(expected_map, get_file(s, "map_varicodes.txt"));
  EXPECT_EQ(codes_summary(ranked.size(), expected_codes.back().size()), ladder.out);
}
