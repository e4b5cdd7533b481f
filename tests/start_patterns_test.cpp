// The start pattern removed from a line: the longest that begins it, by the
// scan of a few patterns and by the trie of many alike.
#include "start_patterns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

TEST(StartPatterns, LongestPrefixWins) {
  const StartMatcher m = build_start_matcher({"http://www.", "http://", "www.", "h", "https://"});
  EXPECT_EQ(0u, start_pattern_length(m, ""));
  EXPECT_EQ(11u, start_pattern_length(m, "http://www.x"));
  EXPECT_EQ(7u, start_pattern_length(m, "http://ww"));
  EXPECT_EQ(1u, start_pattern_length(m, "http:/"));
  EXPECT_EQ(8u, start_pattern_length(m, "https://www."));
  EXPECT_EQ(1u, start_pattern_length(m, "hz"));
  EXPECT_EQ(0u, start_pattern_length(m, "zzz"));
  EXPECT_EQ(0u, start_pattern_length(m, "ww"));
}

// Many patterns per first byte take the binary search; few, the longest-first
// scan. Both must give the longest pattern that begins the line.
TEST(StartPatterns, AgreesWithBruteForce) {
  std::mt19937 rng(99);
  std::vector<std::string> all;
  for (std::size_t length = 1; length <= 5; ++length) {
    for (std::size_t k = 0; k < (std::size_t{1} << length); ++k) {
      std::string s;
      for (std::size_t i = 0; i < length; ++i) s += (k >> i) & 1 ? 'b' : 'a';
      all.push_back(s);
    }
  }
  for (int round = 0; round < 40; ++round) {
    PatternList patterns;
    for (const std::string& p : all) {
      if (rng() % 4 < static_cast<unsigned>(round % 4)) patterns.push_back(p);
    }
    const StartMatcher m = build_start_matcher(patterns);
    for (int i = 0; i < 200; ++i) {
      std::string line(rng() % 8, 'a');
      for (char& c : line) c = "abc"[rng() % 3];
      std::size_t expected = 0;
      for (const std::string& p : patterns) {
        if (line.starts_with(p)) expected = std::max(expected, p.size());
      }
      ASSERT_EQ(expected, start_pattern_length(m, line)) << "line " << line << ", round " << round;
    }
  }
}

// Chains of nested patterns, some longer than 64 bytes, with branches off
// them, over bytes that include NUL and bytes from 0x80; lines are patterns
// cut short, extended or with one byte changed. Most rounds put more than
// eight patterns on a first byte, which takes the trie; every third keeps a
// few, which are scanned.
TEST(StartPatterns, AgreesWithBruteForceOnNestedPatterns) {
  std::mt19937 rng(7);
  const std::string alphabet("a\0\x80\xff", 4);
  auto random_bytes = [&](std::size_t n) {
    std::string s(n, 'a');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 60; ++round) {
    PatternList patterns;
    for (int chain = 0; chain <= round % 6; ++chain) {
      const std::string base = random_bytes(1 + rng() % 150);
      for (std::size_t k = 1; k <= base.size(); ++k) {
        if (rng() % 3 == 0 || k == base.size()) patterns.push_back(base.substr(0, k));
      }
      for (int branch = 0; branch < 3; ++branch) {
        patterns.push_back(base.substr(0, rng() % base.size()) + random_bytes(1 + rng() % 80));
      }
    }
    if (round % 3 == 0) {
      std::shuffle(patterns.begin(), patterns.end(), rng);
      patterns.resize(1 + rng() % 8);
    }
    const StartMatcher m = build_start_matcher(patterns);
    for (int i = 0; i < 300; ++i) {
      const std::string& p = patterns[rng() % patterns.size()];
      std::string line = p.substr(0, rng() % (p.size() + 1)) + random_bytes(rng() % 4);
      if (!line.empty() && rng() % 4 == 0) line[rng() % line.size()] = alphabet[rng() % alphabet.size()];
      std::size_t expected = 0;
      for (const std::string& q : patterns) {
        if (line.starts_with(q)) expected = std::max(expected, q.size());
      }
      ASSERT_EQ(expected, start_pattern_length(m, line)) << "round " << round << ", line " << i;
    }
  }
}
