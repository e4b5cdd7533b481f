// What a sample of websites costs with one list of recurrent patterns, as the
// pipeline would code it: each website is tokenised as patterntally
// tokenises it, the tokens are ranked as patterntally ranks them, each gets
// bitladder's code word of its rank, and a website costs its code words plus
// 2 bits for each "00" between two of them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pattern_file.h"
#include "tokenizer.h"

// A sample tokenised with one list of recurrent patterns, and what it costs.
// It keeps a few words per token and the text of the counted tokens only, so
// that a long pattern costs memory in proportion to its length.
struct TokenizedSample {
  std::vector<std::uint32_t> tokens;     // token ids, `no_token` between lines and at invalid bytes
  std::vector<std::uint64_t> count;      // per token id
  std::vector<std::uint32_t> rank;       // per token id: its place in `ranked`, `no_token` when not counted
  std::vector<std::uint32_t> code_size;  // per token id: its code word's length, 0 when not counted
  std::vector<std::pair<std::string, std::int64_t>> ranked;  // counted tokens, in patterntally's order
  std::uint64_t bits = 0;
};

// The text of `token`, a token that `sample` counted (any of sample.tokens).
inline const std::string& token_text(const TokenizedSample& sample, std::uint32_t token) {
  return sample.ranked[sample.rank[token]].first;
}

// Tokenises `texts` (websites already trimmed and without their start
// patterns) with the valid characters and recurrent patterns given.
TokenizedSample tokenize_sample(const std::vector<std::string>& texts, const PatternList& valid,
                                const PatternList& recurrent);
