// Start patterns: at most one, the longest that matches, is removed from the
// very start of each corpus line before it is tokenised.
//
// The longest start pattern that is a prefix of a line is found with one
// binary search in the patterns sorted by bytes: the patterns that are
// prefixes of the line sort at or before it, the longest of them last. When
// the greatest pattern not after the line is no prefix of it, the answer is a
// prefix of that pattern, so the search goes on down its chain of prefixes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pattern_file.h"

struct StartMatcher {
  std::vector<std::string> sorted;             // ascending byte order
  std::vector<std::uint32_t> longest_prefix;   // index of the longest other pattern that is a prefix, or none
  ByteSet first_bytes{};                       // the first byte of some pattern
};

StartMatcher build_start_matcher(const PatternList& start_patterns);

// The length of the longest start pattern that `line` begins with, or 0.
std::size_t start_pattern_length(const StartMatcher& matcher, std::string_view line);
