#include "tokenizer.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "reference_tokenizer.h"
#include "start_patterns.h"
#include "trim.h"

namespace {

using Counts = std::map<std::string, std::uint64_t>;

struct Definitions {
  PatternList valid;
  PatternList recurrent;
  PatternList start;
};

struct Engines {
  Tokenizer dense;
  Tokenizer sparse;
  StartMatcher start;
};

// Patterns with bytes that are not valid are refused when the definitions are
// read, so neither tokeniser ever sees them.
Definitions validated(Definitions d) {
  if (d.valid.empty()) return d;
  auto has_invalid_byte = [&](const std::string& p) { return !check_string(p, d.valid); };
  std::erase_if(d.recurrent, has_invalid_byte);
  std::erase_if(d.start, has_invalid_byte);
  return d;
}

Engines build(const Definitions& d) {
  PatternList recurrent = d.recurrent;
  std::stable_sort(recurrent.begin(), recurrent.end(), compare_string_length);
  return {build_tokenizer(d.valid, recurrent, true), build_tokenizer(d.valid, recurrent, false),
          build_start_matcher(d.start)};
}

// Counts and messages of one line, the way the program handles it.
std::pair<Counts, std::string> fast_tokenize(Tokenizer& t, const StartMatcher& start,
                                             const std::string& raw, std::uint64_t n) {
  Output messages = memory_output();
  LineContext context{n, trim_view(raw), &messages};
  count_tokens(t, context.trimmed_line.substr(start_pattern_length(start, context.trimmed_line)),
               context);
  Counts counts;
  for (auto& [token, count] : take_token_counts(t)) counts[token] += count;
  return {counts, messages.buffer};
}

std::pair<Counts, std::string> slow_tokenize(const Definitions& d, const std::string& raw,
                                             std::uint64_t n) {
  ReferenceResult r = reference_tokenize(d.valid, d.recurrent, d.start, raw, n);
  Counts counts;
  for (const std::string& token : r.tokens) ++counts[token];
  return {counts, r.messages};
}

void expect_agreement(const Definitions& d, Engines& e, const std::string& raw, std::uint64_t n) {
  const auto expected = slow_tokenize(d, raw, n);
  EXPECT_EQ(expected, fast_tokenize(e.dense, e.start, raw, n)) << "dense, line \"" << raw << "\"";
  EXPECT_EQ(expected, fast_tokenize(e.sparse, e.start, raw, n)) << "sparse, line \"" << raw << "\"";
}

PatternList chars(const std::string& bytes) {
  PatternList list;
  for (char c : bytes) list.emplace_back(1, c);
  return list;
}

struct Row {
  Definitions defs;
  std::string line;
  Counts tokens;
  std::string messages;
};

std::string invalid(char c, const std::string& trimmed) {
  return std::string("- Invalid character \"") + c + "\" in line 7 (\"" + trimmed +
         "\") in file \"websites.txt\": IGNORING CHARACTER\n";
}

}  // namespace

TEST(Tokenizer, WorkedExamples) {
  const PatternList letters = chars("abcdex:");
  const std::vector<Row> rows = {
      {{letters, {"cd", "cde"}, {"ab:"}}, "  ab:cdecdx#", {{"cde", 1}, {"cd", 1}, {"x", 1}},
       invalid('#', "ab:cdecdx#")},
      {{letters, {}, {}}, "", {}, ""},
      {{letters, {}, {}}, " \t\r ", {}, ""},
      {{letters, {}, {"ab"}}, "ab", {}, ""},
      {{letters, {}, {"ab", "abc"}}, "abcd", {{"d", 1}}, ""},
      {{letters, {"ab", "abc"}, {}}, "abcab", {{"abc", 1}, {"ab", 1}}, ""},
      {{letters, {"ab", "bc"}, {}}, "abc", {{"ab", 1}, {"c", 1}}, ""},
      {{chars("ab"), {}, {}}, "a#b", {{"a", 1}, {"b", 1}}, invalid('#', "a#b")},
      {{{}, {"ab"}, {"ab:"}}, "ab:q", {}, invalid('q', "ab:q")},
      {{letters, {}, {"ab:"}}, "ab: x", {{"x", 1}}, invalid(' ', "ab: x")},
      {{letters, {}, {" a"}}, " ab", {{"a", 1}, {"b", 1}}, ""},
      {{letters, {}, {}}, "a\vb", {{"a", 1}, {"b", 1}}, invalid('\v', "a\vb")},
      {{{"a", "\xc3\xa9"}, {}, {}}, "a\xc3\xa9", {{"a", 1}},
       invalid('\xc3', "a\xc3\xa9") + invalid('\xa9', "a\xc3\xa9")},
      {{{"a", "ab"}, {}, {}}, "ab", {{"a", 1}}, invalid('b', "ab")},
      {{chars(std::string("a\0b", 3)), {std::string("a\0b", 3)}, {}}, std::string("a\0ba\0c", 6),
       {{std::string("a\0b", 3), 1}, {"a", 1}, {std::string(1, '\0'), 1}},
       invalid('c', std::string("a\0ba\0c", 6))},
      {{chars("a"), {"a", "aaab"}, {}}, "aaaa", {{"a", 4}}, ""},
      {{chars("ab"), {"a", "aaab"}, {}}, "aaaaab", {{"a", 2}, {"aaab", 1}}, ""},
  };
  for (const Row& row : rows) {
    Engines e = build(row.defs);
    const std::pair<Counts, std::string> expected{row.tokens, row.messages};
    EXPECT_EQ(expected, fast_tokenize(e.dense, e.start, row.line, 7)) << "line \"" << row.line << "\"";
    EXPECT_EQ(expected, fast_tokenize(e.sparse, e.start, row.line, 7)) << "line \"" << row.line << "\"";
    EXPECT_EQ(expected, slow_tokenize(row.defs, row.line, 7)) << "reference, line \"" << row.line << "\"";
  }
}

// Every line of up to 7 bytes over a small alphabet, against pattern sets
// with nested and overlapping patterns.
TEST(Tokenizer, AgreesWithReferenceOnAllShortLines) {
  const std::vector<Definitions> sets = {
      {chars("abc"), {"ab", "abc", "bc", "cab", "abcab", "bcbc"}, {"a", "ab"}},
      {chars("ab"), {"a", "ab", "aab", "aaab", "aaaab", "ba", "bab"}, {}},
      {chars("ab "), {"aa", "aaa", "b b", "ab a"}, {"b", "bb"}},
      {{}, {"ab"}, {"ab"}},
  };
  const std::string alphabet = "ab c";
  for (const Definitions& d : sets) {
    Engines e = build(d);
    std::string line;
    for (std::size_t length = 0; length <= 7; ++length) {
      std::size_t total = 1;
      for (std::size_t i = 0; i < length; ++i) total *= alphabet.size();
      for (std::size_t k = 0; k < total; ++k) {
        line.clear();
        for (std::size_t i = 0, x = k; i < length; ++i, x /= alphabet.size()) line += alphabet[x % alphabet.size()];
        expect_agreement(d, e, line, k + 1);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

// Random definitions and lines, including long runs that defeat a naive walk.
TEST(Tokenizer, AgreesWithReferenceOnRandomInput) {
  std::mt19937 rng(12345);
  auto random_text = [&](const std::string& alphabet, std::size_t max_length) {
    std::string text(rng() % (max_length + 1), ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 300; ++round) {
    Definitions d;
    d.valid = chars(random_text("abcd\t\r", 6));
    const int patterns = static_cast<int>(rng() % 12);
    for (int i = 0; i < patterns; ++i) d.recurrent.push_back(random_text("abcd", 8));
    for (int i = 0; i < 3; ++i) d.start.push_back(random_text("abcd", 3));
    auto drop_empty_and_repeats = [](PatternList& list) {
      std::sort(list.begin(), list.end());
      list.erase(std::unique(list.begin(), list.end()), list.end());
      std::erase(list, std::string());
    };
    drop_empty_and_repeats(d.valid);
    drop_empty_and_repeats(d.recurrent);
    drop_empty_and_repeats(d.start);
    d = validated(d);
    Engines e = build(d);
    for (int i = 0; i < 40; ++i) {
      expect_agreement(d, e, random_text("aabbcd# \t\r", 40), static_cast<std::uint64_t>(i) + 1);
    }
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(Tokenizer, StaysLinearOnLongPartialMatches) {
  // "a" and "a...ab" for every length up to 64, on a line of 100,000 'a'.
  Definitions d{chars("ab"), {"a"}, {}};
  for (int k = 1; k <= 64; ++k) d.recurrent.push_back(std::string(static_cast<std::size_t>(k), 'a') + "b");
  Engines e = build(d);
  const std::string line(100000, 'a');
  const Counts expected{{"a", 100000}};
  EXPECT_EQ(expected, fast_tokenize(e.dense, e.start, line, 1).first);
  EXPECT_EQ(expected, fast_tokenize(e.sparse, e.start, line, 1).first);
  expect_agreement(d, e, std::string(300, 'a') + "b" + std::string(70, 'a') + "ab", 1);
}

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
