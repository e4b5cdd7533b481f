// The runs of adjacent tokens of a tokenised sample that could become
// recurrent patterns, each scored by the bits it would save. Runs of 2 to 8
// tokens (up to 24 bytes) that occur at least twice are counted where they
// do not overlap themselves; a text that is a run of several token sequences
// is one candidate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pattern_file.h"
#include "tokenized_sample.h"

// A run of tokens that could become a pattern: its text, how often it occurs
// where it would be taken, and the bits it is expected to save.
struct Candidate {
  std::string text;
  std::uint64_t count = 0;
  std::int64_t gain = 0;
  std::uint64_t replaced_bits = 0;  // of the code words and separators it replaces, in all
};

// The longest run of tokens, in tokens and in bytes, that is a candidate.
inline constexpr std::size_t longest_run = 8;
inline constexpr std::size_t longest_run_bytes = 24;

// The candidates of a tokenised sample that save bits, best first (ties in
// byte order of their text). A candidate's gain is the code words and
// separators it replaces, minus its own code word at the rank its count gives
// it, minus what pushing the tokens below that rank one rank further costs.
std::vector<Candidate> find_candidates(const TokenizedSample& sample);

// The best candidates, at most `size`, never two where one holds the other,
// nor one already in `chosen`.
std::vector<Candidate> pick_batch(const std::vector<Candidate>& candidates, std::size_t size,
                                  const PatternList& chosen);
