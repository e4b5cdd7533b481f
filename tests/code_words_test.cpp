#include "code_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// The first `count` codes as next_code hands them out, starting from nothing.
std::vector<std::string> first_codes(std::size_t count) {
  std::vector<std::string> codes;
  std::string code;
  for (std::size_t i = 0; i < count; ++i) {
    next_code(code);
    codes.push_back(code);
  }
  return codes;
}

}  // namespace

TEST(CodeWords, PropertiesOfTheFirstMillionCodes) {
  std::string code;
  std::string previous;
  std::vector<std::uint64_t> per_length(64, 0);
  for (int n = 1; n <= 1'000'000; ++n) {
    next_code(code);
    const bool ok = code.size() < per_length.size() && code.front() == '1' && code.back() == '1' &&
                    code.find_first_not_of("01") == std::string::npos &&
                    code.find("00") == std::string::npos && code.size() >= previous.size() &&
                    (code.size() > previous.size() || code > previous);
    if (!ok) {
      ADD_FAILURE() << "code " << n << " \"" << code << "\" after \"" << previous << "\"";
      return;
    }
    ++per_length[code.size()];
    previous = code;
  }
  // Every length but the last (which may be partial) holds a whole generation.
  std::vector<std::uint64_t> fib = {0, 1, 1};
  while (fib.size() <= previous.size()) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  for (std::size_t length = 1; length < previous.size(); ++length) {
    EXPECT_EQ(fib[length], per_length[length]) << "length " << length;
  }
  EXPECT_GE(fib[previous.size()], per_length[previous.size()]);
  EXPECT_EQ(29u, previous.size());
}

// All strings of up to 16 bits that begin and end with '1' and hold no "00",
// shortest first, ascending within a length.
TEST(CodeWords, MatchesBruteForceEnumeration) {
  std::vector<std::string> expected;
  for (unsigned length = 1; length <= 16; ++length) {
    for (unsigned v = 1u << (length - 1); v < (1u << length); ++v) {
      std::string bits;
      for (unsigned i = length; i-- > 0;) bits += ((v >> i) & 1) != 0 ? '1' : '0';
      if (bits.back() == '1' && bits.find("00") == std::string::npos) expected.push_back(bits);
    }
  }
  ASSERT_EQ(2583u, expected.size());  // generations 1..16: fib(18) - 1
  const std::vector<std::string> got = first_codes(expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], got[i]) << "code " << i + 1;
  }
  EXPECT_EQ((std::vector<std::string>{"1", "11", "101", "111", "1011", "1101", "1111", "10101", "10111",
                                      "11011", "11101", "11111", "101011"}),
            first_codes(13));
}

// Generation L+1 is "10" before each code of generation L-1, then "1" before
// each code of generation L.
TEST(CodeWords, MatchesGenerationsBuiltFromTheTwoBefore) {
  std::vector<std::vector<std::string>> generations = {{}, {"1"}, {"11"}};
  std::vector<std::string> expected = {"1", "11"};
  while (expected.size() < 100'000) {
    const std::size_t length = generations.size() - 1;
    std::vector<std::string> next;
    for (const std::string& c : generations[length - 1]) next.push_back("10" + c);
    for (const std::string& c : generations[length]) next.push_back("1" + c);
    expected.insert(expected.end(), next.begin(), next.end());
    generations.push_back(std::move(next));
  }
  const std::vector<std::string> got = first_codes(expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], got[i]) << "code " << i + 1;
  }
}

TEST(CodeWords, CodeLengthsAreThoseOfTheCodeSequence) {
  std::string code;
  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < 5000; ++i) {
    next_code(code);
    sizes.push_back(static_cast<std::uint32_t>(code.size()));
  }
  EXPECT_EQ(sizes, code_lengths(sizes.size()));
  EXPECT_TRUE(code_lengths(0).empty());
}

// Over every string of up to 12 bytes of '0' and '1', the code words are
// those of the sequence; then the edges of length and of other bytes.
TEST(CodeWords, IsCodeWordExactlyForTheSequence) {
  const std::vector<std::string> codes = first_codes(376);  // every code of up to 12 bits
  ASSERT_EQ(12u, codes.back().size());
  std::size_t found = 0;
  for (unsigned length = 0; length <= 12; ++length) {
    for (unsigned v = 0; v < (1u << length); ++v) {
      std::string bits;
      for (unsigned i = length; i-- > 0;) bits += ((v >> i) & 1) != 0 ? '1' : '0';
      const bool in_sequence = found < codes.size() && codes[found] == bits;
      if (in_sequence) ++found;
      EXPECT_EQ(in_sequence, is_code_word(bits)) << "\"" << bits << "\"";
    }
  }
  EXPECT_EQ(codes.size(), found);
  const std::vector<std::pair<std::string, bool>> rows = {
      {std::string(longest_code, '1'), true},
      {std::string(longest_code + 1, '1'), false},
      {"1 1", false},
      {"121", false},
      {"1\n", false},
      {"11\0"s, false},
      {"\0"
       "11"s,
       false},
  };
  for (const auto& [code, is] : rows) EXPECT_EQ(is, is_code_word(code)) << "\"" << code << "\"";
}
