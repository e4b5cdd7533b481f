// Learning recurrent patterns that make websites cheap to code.
//
// The cost is the one the pipeline produces (see tokenized_sample.h). The
// learner is greedy, by batches. It finds the runs of adjacent tokens that
// could become patterns, scores each by the bits it would save
// (candidates.h), adds the best tenth of the list so far (at least 5; never
// two where one holds the other), tokenises again and goes on. Runs of whole
// tokens rather than pairs merged one at a time: merging pairs spends
// patterns on pieces such as ".c" on the way to ".com". At the end a short
// polish swaps a weak pattern for a better candidate while that lowers the
// cost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "candidates.h"
#include "pattern_file.h"
#include "tokenized_sample.h"

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
