#include "tokenizer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>

#include "patterntally.h"
#include "reference_tokenizer.h"
#include "start_patterns.h"
#include "test_support.h"
#include "trim.h"

namespace {

using Counts = std::map<std::string, std::uint64_t>;

// The three walks, which must agree: line ends in the table (where that
// applies), lines cut before the walk, sibling lists.
struct Engines {
  std::array<Tokenizer, 3> walks;
};

constexpr const char* walk_names[] = {"lines in table", "dense", "sparse"};

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
  Engines e;
  const TokenizerWalk walks[] = {TokenizerWalk::lines_in_table, TokenizerWalk::dense, TokenizerWalk::sparse};
  for (std::size_t i = 0; i < 3; ++i) e.walks[i] = build_tokenizer(d.valid, recurrent, d.start, walks[i]);
  return e;
}

// Counts and messages of one line, the way the program handles it.
std::pair<Counts, std::string> fast_tokenize(Tokenizer& t, const std::string& raw, std::uint64_t n) {
  Output messages = memory_output();
  EXPECT_EQ(1u, count_block(t, raw + "\n", n, messages));
  Counts counts;
  for (auto& [token, count] : take_token_counts(t)) counts[token] += count;
  return {counts, messages.buffer};
}

std::pair<Counts, std::string> slow_tokenize(const Definitions& d, const std::string& raw, std::uint64_t n) {
  ReferenceResult r = reference_tokenize(d.valid, d.recurrent, d.start, raw, n);
  Counts counts;
  for (const std::string& token : r.tokens) ++counts[token];
  return {counts, r.messages};
}

void expect_agreement(const Definitions& d, Engines& e, const std::string& raw, std::uint64_t n) {
  const auto expected = slow_tokenize(d, raw, n);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(expected, fast_tokenize(e.walks[i], raw, n)) << walk_names[i] << ", line \"" << raw << "\"";
  }
}

using Expected = std::pair<Counts, std::string>;

// Adds what the reference makes of `line`, numbered `n`, to `expected`.
void add_reference(Expected& expected, const Definitions& d, const std::string& line, std::uint64_t n) {
  auto [counts, messages] = slow_tokenize(d, line, n);
  for (auto& [token, count] : counts) expected.first[token] += count;
  expected.second += messages;
}

// Counts `block`, `lines` lines numbered from `first`, with every walk.
void expect_block(Engines& e, const std::string& block, std::uint64_t lines, std::uint64_t first,
                  const Expected& expected, const std::string& what) {
  for (std::size_t w = 0; w < 3; ++w) {
    Output messages = memory_output();
    EXPECT_EQ(lines, count_block(e.walks[w], block, first, messages)) << walk_names[w] << ", " << what;
    Counts counts;
    for (auto& [token, count] : take_token_counts(e.walks[w])) counts[token] += count;
    EXPECT_EQ(expected.first, counts) << walk_names[w] << ", " << what;
    EXPECT_TRUE(expected.second == messages.buffer) << walk_names[w] << ", " << what << ": messages differ";
  }
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

// A skipped byte of line 7.
std::string invalid(char c, const std::string& trimmed) { return invalid_char(c, 7, trimmed); }

}  // namespace

TEST(Tokenizer, WorkedExamples) {
  const PatternList letters = chars("abcdex:");
  const std::vector<Row> rows = {
      {{letters, {"cd", "cde"}, {"ab:"}},
       "  ab:cdecdx#",
       {{"cde", 1}, {"cd", 1}, {"x", 1}},
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
      {{letters, {"cd"}, {}}, "cd\r\r", {{"cd", 1}}, ""},
      {{letters, {"cd"}, {}}, "c\rd\r", {{"c", 1}, {"d", 1}}, invalid('\r', "c\rd")},
      {{letters, {"cde"}, {}},
       "cd\r d",
       {{"c", 1}, {"d", 2}},
       invalid('\r', "cd\r d") + invalid(' ', "cd\r d")},
      {{letters, {}, {"ab:"}}, "ab:\r", {}, ""},
      {{{"a", "\xc3\xa9"}, {}, {}},
       "a\xc3\xa9",
       {{"a", 1}},
       invalid('\xc3', "a\xc3\xa9") + invalid('\xa9', "a\xc3\xa9")},
      {{{"a", "ab"}, {}, {}}, "ab", {{"a", 1}}, invalid('b', "ab")},
      {{chars(std::string("a\0b", 3)), {std::string("a\0b", 3)}, {}},
       std::string("a\0ba\0c", 6),
       {{std::string("a\0b", 3), 1}, {"a", 1}, {std::string(1, '\0'), 1}},
       invalid('c', std::string("a\0ba\0c", 6))},
      {{chars("a"), {"a", "aaab"}, {}}, "aaaa", {{"a", 4}}, ""},
      // Start patterns longer than the line-start rows reach.
      {{chars("ab"), {}, {std::string(65, 'a'), std::string(66, 'a')}},
       std::string(66, 'a') + "b",
       {{"b", 1}},
       ""},
      {{chars("ab"), {std::string(70, 'a')}, {std::string(70, 'a')}},
       std::string(70, 'a') + "b",
       {{"b", 1}},
       ""},
      // Every byte valid but blanks and the line feed.
      {{[] {
          PatternList all;
          for (int b = 0; b < 256; ++b) {
            const auto byte = static_cast<char>(b);
            if (std::string(" \t\r\n").find(byte) == std::string::npos) all.emplace_back(1, byte);
          }
          return all;
        }(),
        {},
        {}},
       "a\xf9\xfa\xff",
       {{"a", 1}, {"\xf9", 1}, {"\xfa", 1}, {"\xff", 1}},
       ""},
      {{chars("ab"), {"a", "aaab"}, {}}, "aaaaab", {{"a", 2}, {"aaab", 1}}, ""},
  };
  for (const Row& row : rows) {
    Engines e = build(row.defs);
    const std::pair<Counts, std::string> expected{row.tokens, row.messages};
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(expected, fast_tokenize(e.walks[i], row.line, 7))
          << walk_names[i] << ", line \"" << row.line << "\"";
    }
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
        for (std::size_t i = 0, x = k; i < length; ++i, x /= alphabet.size())
          line += alphabet[x % alphabet.size()];
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

// Whole blocks of many lines, so that parts are walked side by side, with the
// line numbers and the order of messages across parts.
TEST(Tokenizer, AgreesWithReferenceOnWholeBlocks) {
  std::mt19937 rng(777);
  // With blanks valid (the second set), a line's trailing blanks are valid
  // bytes too, which the walk must not read past. The third set has start
  // patterns that share prefixes, as web addresses do: lines made of their
  // pieces stop the line-start rows at every point.
  const Definitions sets[] = {
      validated({chars("abc:/."), {"ab", "abc", "ca", "bca", "a.b", "::"}, {"ab:", "a"}}),
      validated({chars("abc:/. \t\r"), {"ab", "a b", "c\t", "bca", "a.b", "::"}, {"ab:", "a "}}),
      validated({chars("abchtpsw:/."),
                 {"ww", "w.a", "ht", "http", "tp:", "s:", "/a", "c"},
                 {"www.", "http://", "http://www.", "https://", "h", "wa"}}),
  };
  const std::vector<std::string> pieces = {"www.", "http://", "https://", "h", "w", "ww", "a",  "b", "c",
                                           ".",    "/",       ":",        "s", "t", "#",  "\r", " ", "\t"};
  for (int round = 0; round < 90; ++round) {
    const Definitions& d = sets[round % 3];
    Engines e = build(d);
    EXPECT_EQ(&d != &sets[1], walk_of(e.walks[0]) == TokenizerWalk::lines_in_table) << "which walk applies";
    std::string block;
    Expected expected;
    const std::uint64_t first = 1 + rng() % 1000;
    const int lines = static_cast<int>(rng() % 400);
    for (int i = 0; i < lines; ++i) {
      std::string line;
      if (&d == &sets[2]) {
        const std::size_t kinds = rng() % 4 == 0 ? pieces.size() : 15;  // sometimes odd bytes too
        for (std::size_t k = rng() % 6; k > 0; --k) line += pieces[rng() % kinds];
      } else {
        line.assign(rng() % (i % 50 == 0 ? 300 : 30), ' ');
        for (char& c : line) c = "abc:/. #\r"[rng() % (round % 2 == 0 ? 9 : 7)];
      }
      block += line;
      if (i + 1 < lines || line.empty() || rng() % 2 == 0) block += '\n';
      add_reference(expected, d, line, first + static_cast<std::uint64_t>(i));
    }
    expect_block(e, block, static_cast<std::uint64_t>(lines), first, expected,
                 "round " + std::to_string(round));
    if (::testing::Test::HasFailure()) return;
  }
}

// More messages than a part holds back while the parts before it are walked:
// the part stops and is finished once its first line number is known.
TEST(Tokenizer, KeepsMessagesInOrderWhenTheyAreMany) {
  const Definitions sets[] = {
      validated({chars("abw."), {"ab", "ww", "b.a"}, {"www.", "a"}}),
      validated({chars("abw. "), {"ab", "a b"}, {"www."}}),
  };
  for (const Definitions& d : sets) {
    Engines e = build(d);
    std::mt19937 rng(99);
    std::string block;
    Expected expected;
    const std::uint64_t first = (std::uint64_t{1} << 32) - 5;
    const int lines = 40000;
    for (int i = 0; i < lines; ++i) {
      std::string line;
      for (std::size_t k = rng() % 8; k > 0; --k) line += "abw.#\r"[rng() % 6];
      if (i % 7 == 0) line = "www." + line + "\r";
      block += line + '\n';
      add_reference(expected, d, line, first + static_cast<std::uint64_t>(i));
    }
    expect_block(e, block, static_cast<std::uint64_t>(lines), first, expected, "many messages");
  }
}

// The definition sets the tool is measured with, on lines of the shipped
// example: its own definitions; 2,000 patterns, the most frequent fragments of
// its lines, as the benchmark makes them; the adversarial set. Lines are
// taken as they are and with odd bytes, blanks and carriage returns mixed in.
TEST(Tokenizer, AgreesWithReferenceOnTheMeasuredSets) {
  const std::string dir = EXAMPLES_DIR;
  Output ignored = memory_output();
  Definitions example;
  example.valid = read_strings_from_file(dir + "/patterns_valid_chars.txt", {}, ignored);
  example.recurrent = read_strings_from_file(dir + "/patterns_recurrent.txt", example.valid, ignored);
  example.start = read_strings_from_file(dir + "/patterns_start.txt", example.valid, ignored);
  ASSERT_EQ(72u, example.recurrent.size());
  std::vector<std::string> sample;
  {
    std::ifstream in(dir + "/websites.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);) sample.push_back(line);
  }
  ASSERT_EQ(2000u, sample.size());

  Definitions large = example;
  {
    std::map<std::string, std::size_t> fragments;
    for (const std::string& line : sample) {
      for (std::size_t from = 0; from < line.size(); ++from) {
        for (std::size_t length = 2; length <= 10 && from + length <= line.size(); ++length) {
          const std::string fragment = line.substr(from, length);
          if (!check_string(fragment, example.valid)) break;
          ++fragments[fragment];
        }
      }
    }
    std::vector<std::pair<std::size_t, std::string>> by_count;
    for (auto& [fragment, count] : fragments) by_count.emplace_back(count, fragment);
    std::sort(by_count.begin(), by_count.end(), [](const auto& x, const auto& y) {
      return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
    large.recurrent.clear();
    for (std::size_t i = 0; i < 2000; ++i) large.recurrent.push_back(by_count[i].second);
  }
  Definitions adversarial{chars("ab"), {"a"}, {}};
  for (std::size_t k = 1; k <= 64; ++k) adversarial.recurrent.push_back(std::string(k, 'a') + "b");

  std::mt19937 rng(2026);
  auto mixed = [&](std::string line) {
    const std::string odd[] = {"A", "?", " ", "\t", "\r", "%", "\xc3\xa9"};
    for (int k = static_cast<int>(rng() % 3); k > 0; --k) {
      line.insert(rng() % (line.size() + 1), odd[rng() % std::size(odd)]);
    }
    if (rng() % 4 == 0) line += "\r";
    if (rng() % 8 == 0) line = " " + line;
    return line;
  };
  std::vector<std::string> web_lines = sample;
  for (const std::string& line : sample) web_lines.push_back(mixed(line));
  web_lines.push_back("");
  std::vector<std::string> a_lines;
  for (int i = 0; i < 40; ++i) {
    std::string line(1000 + rng() % 3000, 'a');
    for (int k = static_cast<int>(rng() % 4); k > 0; --k) line[rng() % line.size()] = 'b';
    a_lines.push_back(i % 2 == 0 ? line : mixed(line));
  }

  const std::pair<const Definitions*, const std::vector<std::string>*> cases[] = {
      {&example, &web_lines}, {&large, &web_lines}, {&adversarial, &a_lines}};
  for (const auto& [d, lines] : cases) {
    Engines e = build(*d);
    EXPECT_EQ(TokenizerWalk::lines_in_table, walk_of(e.walks[0])) << "the fastest walk applies";
    std::string block;
    Expected expected;
    for (std::size_t i = 0; i < lines->size(); ++i) {
      block += (*lines)[i] + '\n';
      add_reference(expected, *d, (*lines)[i], i + 1);
    }
    expect_block(e, block, lines->size(), 1, expected, std::to_string(d->recurrent.size()) + " patterns");
  }
}

// So many start patterns that their prefixes overflow the table with line
// ends: the walk that cuts lines first takes over.
TEST(Tokenizer, CutsLinesFirstWhenLineStartsDoNotFit) {
  std::mt19937 rng(5);
  Definitions d{chars("abcdefghijklmnopqrstuvwxyz."), {"ab", "abc", ".c"}, {}};
  auto word = [&](std::size_t length) {
    std::string w;
    for (std::size_t i = 0; i < length; ++i) w += static_cast<char>('a' + rng() % 26);
    return w;
  };
  for (int i = 0; i < 20000; ++i) d.start.push_back(word(6));
  Engines e = build(d);
  EXPECT_NE(TokenizerWalk::lines_in_table, walk_of(e.walks[0]));
  std::string block;
  Expected expected;
  for (std::size_t i = 0; i < 40; ++i) {
    const std::string line = (i % 2 == 0 ? d.start[i] : word(3)) + ".abc" + (i % 3 == 0 ? "#" : "");
    block += line + '\n';
    add_reference(expected, d, line, i + 1);
  }
  expect_block(e, block, 40, 1, expected, "20,000 start patterns");
}

// The table with line ends numbers its rows in 15 bits: a set one row past
// that cuts lines first, through the table of wider entries, and both count
// alike at the bound. Rows: the trie's nodes (the root, "a", "b" and each
// longer run of 'a'), the start of a line and the carriage-return row.
TEST(Tokenizer, CutsLinesFirstPastTheRowsOfTheShortTable) {
  for (const std::size_t longest : {std::size_t{32763}, std::size_t{32764}}) {
    const Definitions d{chars("ab"), {"a", std::string(longest, 'a')}, {}};
    Engines e = build(d);
    const bool fits = longest + 4 <= 32767;
    EXPECT_EQ(fits ? TokenizerWalk::lines_in_table : TokenizerWalk::dense, walk_of(e.walks[0])) << longest;
    if (fits) {
      EXPECT_LT(size_of(e.walks[0]).table_bytes, size_of(e.walks[1]).table_bytes);
    }
    const std::string lines[] = {std::string(longest, 'a') + "ab", std::string(longest - 1, 'a') + "\r",
                                 "ba#a", std::string(300, 'a') + "b"};
    std::string block;
    Expected expected;
    for (std::size_t i = 0; i < std::size(lines); ++i) {
      block += lines[i] + '\n';
      add_reference(expected, d, lines[i], i + 1);
    }
    expect_block(e, block, std::size(lines), 1, expected, std::to_string(longest) + " 'a'");
  }
}

TEST(Tokenizer, StaysLinearOnLongPartialMatches) {
  // "a" and "a...ab" for every length up to 64, on a line of 100,000 'a'.
  Definitions d{chars("ab"), {"a"}, {}};
  for (int k = 1; k <= 64; ++k) d.recurrent.push_back(std::string(static_cast<std::size_t>(k), 'a') + "b");
  Engines e = build(d);
  const std::string line(100000, 'a');
  const Counts expected{{"a", 100000}};
  for (Tokenizer& t : e.walks) EXPECT_EQ(expected, fast_tokenize(t, line, 1).first);
  expect_agreement(d, e, std::string(300, 'a') + "b" + std::string(70, 'a') + "ab", 1);
}

// The tokens of a line one by one, as varicode and suggest take them, with
// each walk, on lines long enough to come in several batches.
TEST(Tokenizer, WalksTheTokensOfALineAsTheReference) {
  std::mt19937 rng(31);
  const Definitions d = validated({chars("abc"), {"ab", "abc", "bca", "cc", "abcabcab"}, {"a", "ca"}});
  const Engines e = build(d);
  for (int i = 0; i < 200; ++i) {
    std::string line(rng() % (i % 20 == 0 ? 3000 : 40), ' ');
    for (char& c : line) c = " abc#"[rng() % 5];
    const ReferenceResult r = reference_tokenize(d.valid, d.recurrent, d.start, line, 1);
    std::string invalid;  // each message names its byte at the same place
    for (std::size_t at = 0; at < r.messages.size(); at = r.messages.find('\n', at) + 1)
      invalid += r.messages[at + 21];
    for (std::size_t w = 0; w < 3; ++w) {
      const Tokenizer& t = e.walks[w];
      const std::string_view text = without_start_pattern(t, trim_view(line));
      std::vector<std::string> tokens;
      std::string skipped;
      walk_tokens(
          t, text, [&](std::uint32_t token) { tokens.push_back(token_text(t, token)); },
          [&](std::size_t at) { skipped += text[at]; });
      EXPECT_EQ(r.tokens, tokens) << walk_names[w] << ", line \"" << line << "\"";
      EXPECT_EQ(invalid, skipped) << walk_names[w] << ", line \"" << line << "\"";
    }
    if (::testing::Test::HasFailure()) return;
  }
}
