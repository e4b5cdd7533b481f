// One run of patterntally in the working directory: read the definition
// files and the corpus "websites.txt", count every token, and write the count
// report and the ranked pattern file.
#pragma once

#include <cstdint>

#include "line_reader.h"
#include "output.h"
#include "ranking.h"
#include "start_patterns.h"
#include "tokenizer.h"

// Fixed file names, relative to the working directory.
inline constexpr const char* corpus_file = "websites.txt";
inline constexpr const char* valid_chars_file = "patterns_valid_chars.txt";
inline constexpr const char* recurrent_file = "patterns_recurrent.txt";
inline constexpr const char* start_file = "patterns_start.txt";
inline constexpr const char* count_report_file = "patterns_and_frequencies.txt";
inline constexpr const char* ranked_file = "patterns_ordered_by_frequency.txt";

// Reads every line of `corpus`: trims it, removes its start pattern, counts
// its tokens in `tokenizer` and reports its invalid bytes to `messages`.
// Returns the number of lines read.
std::uint64_t count_corpus(LineReader& corpus, const StartMatcher& start, Tokenizer& tokenizer,
                           Output& messages);

// Every valid-character entry and recurrent pattern, at count 0.
FrequencyTable seed_frequency_table(const PatternList& valid, const PatternList& recurrent);

// The whole run; returns the exit status (0, or 1 after a reported failure).
int run_patterntally();
