// The ranking of counted patterns and the two report files written from it.
// Ranked order: higher count first; among equal counts, shorter patterns
// first; among equal counts and lengths, ascending byte order. Patterns are
// distinct, so the order is total and the files are fully determined.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "output.h"

// Pattern to count. std::string compares bytes as unsigned values.
using FrequencyTable = std::map<std::string, std::int64_t>;

using PatternCount = std::pair<std::string, std::int64_t>;
using RankedList = std::vector<PatternCount>;

// True when `a` stands before `b` in the ranked order.
bool compare_frequency_word(const PatternCount& a, const PatternCount& b);

// Ranks every entry of `table` (counts of 0 included) and writes, for each in
// ranked order, "COUNT\t<PATTERN>\n" to `count_report` and "<PATTERN>\n" to
// `ranked_patterns`. Patterns are written unchanged, brackets and all.
void write_ranked_reports(const FrequencyTable& table, Output& count_report, Output& ranked_patterns);
