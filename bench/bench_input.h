// Inputs of the microbenchmarks: the definition sets written into the build
// tree by gen_defs.py, realistic corpus lines, adversarial lines and distinct
// ranked-pattern lines. Everything is made once and kept for the whole run.
// TOKENIZER_BENCH_DEFS names another directory of sets (example/, large/,
// adversarial/), TOKENIZER_BENCH_CORPUS another corpus to take lines from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pattern_file.h"

struct DefinitionSet {
  PatternList valid;
  PatternList recurrent;  // longest first, as the definition reader gives them
  PatternList start;
  std::size_t file_bytes = 0;  // the three files together
};

// The set in directory `name` ("example", "large", "adversarial"), read with
// the programs' own definition reader. Exits when the set has no valid bytes.
const DefinitionSet& definition_set(const std::string& name);

// Lines kept in one buffer, without their line feeds.
struct LineBuffer {
  std::string bytes;
  std::vector<std::string_view> lines;
  std::size_t line_bytes = 0;  // the bytes of all lines, without line feeds
};

// Realistic corpus lines as read, at least 8 MiB of them: the corpus repeated
// as needed, or its first 16 MiB when it is larger.
const LineBuffer& corpus_lines();

// What the tokeniser sees of `raw` under `set`: each line trimmed and
// stripped of its start pattern.
LineBuffer tokenizer_view(const LineBuffer& raw, const DefinitionSet& set);

// About 8 MiB of lines of 2,000 to 8,000 'a', the worst case for a
// tokeniser that re-reads text after a failed long match.
const LineBuffer& adversarial_lines();

// `count` distinct lines "<fragment>" with fragments of 2 to 12 bytes, as in
// a ranked pattern file.
LineBuffer ranked_lines(std::size_t count);
