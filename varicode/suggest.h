// Learning recurrent patterns that make websites cheap to code.
//
// The cost is the one the pipeline produces: each website is tokenised as
// patterntally tokenises it, the tokens are ranked as patterntally ranks
// them, each gets bitladder's code word of its rank, and a website costs its
// code words plus 2 bits for each "00" between two of them.
//
// The learner is greedy, by batches. It counts the runs of 2 to 8 adjacent
// tokens (up to 24 bytes) that occur at least twice, scores each by the bits
// it would save as a pattern of its own (the code words and separators it
// replaces, minus its own code word at the rank its count gives it, minus
// what pushing the tokens below that rank one rank further costs), adds the
// best tenth of the list so far (at least 5; never two where one holds the
// other), tokenises again and goes on. Runs of whole tokens rather than pairs
// merged one at a time: merging pairs spends patterns on pieces such as ".c"
// on the way to ".com". At the end a short polish swaps a weak pattern for a
// better candidate while that lowers the cost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
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

// The text of `token`, a token that `s` counted (any of s.tokens).
inline const std::string& token_text(const TokenizedSample& s, std::uint32_t token) {
  return s.ranked[s.rank[token]].first;
}

// Tokenises `texts` (websites already trimmed and without their start
// patterns) with the valid characters and recurrent patterns given.
TokenizedSample tokenize_sample(const std::vector<std::string>& texts, const PatternList& valid,
                                const PatternList& recurrent);

// A run of tokens that could become a pattern: its text, how often it occurs
// where it would be taken, and the bits it is expected to save.
struct Candidate {
  std::string text;
  std::uint64_t count = 0;
  std::int64_t gain = 0;
  std::uint64_t replaced_bits = 0;  // of the code words and separators it replaces, in all
};

// The candidates of a tokenised sample that save bits, best first (ties in
// byte order of their text).
std::vector<Candidate> find_candidates(const TokenizedSample& sample);

// The best candidates, at most `size`, never two where one holds the other,
// nor one already in `chosen`.
std::vector<Candidate> pick_batch(const std::vector<Candidate>& candidates, std::size_t size,
                                  const PatternList& chosen);

// Learns at most `n` recurrent patterns from `texts`, most valuable first.
// `progress` hears after each batch: patterns chosen, bits in all.
PatternList suggest_patterns(const std::vector<std::string>& texts, const PatternList& valid, std::size_t n,
                             const std::function<void(std::size_t, std::uint64_t)>& progress = {});

// `varicode suggest N [FILE]...`: learns from a sample of `sample_lines`
// lines (0: all) of the files (websites.txt when none; "-" is standard
// input) and writes the patterns as "<pattern>" lines to `output`, replaced
// only once they are all written (see output.h), or to standard output when
// it is "". The output may be patterns_recurrent.txt, which is read before.
int run_suggest(std::size_t n, const std::vector<std::string>& files, std::uint64_t sample_lines,
                const std::string& output = "");
