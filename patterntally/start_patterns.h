// Start patterns: at most one, the longest that matches, is removed from the
// very start of each corpus line before it is tokenised.
//
// Only the patterns that begin with the line's first byte can match; they
// stand together in the patterns sorted by bytes. A few are tried longest
// first. Among many, one binary search finds the answer: the patterns that are
// prefixes of the line sort at or before it, the longest of them last. When
// the greatest pattern not after the line is no prefix of it, the answer is a
// prefix of that pattern, so the search goes on down its chain of prefixes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pattern_file.h"

// A start pattern as compared eight bytes at a time.
struct StartCandidate {
  std::uint64_t head = 0;       // the first 8 bytes, zero-padded, as loaded from memory
  std::uint64_t head_mask = 0;  // which bytes of `head` belong to the pattern
  std::uint64_t tail = 0;       // the last 8 bytes, when there are more than 8
  std::size_t size = 0;
  std::uint32_t pattern = 0;    // its index in StartMatcher::sorted
};

struct StartMatcher {
  std::vector<std::string> sorted;            // ascending byte order
  std::vector<std::uint32_t> longest_prefix;  // index of the longest other pattern that is a prefix, or none
  std::array<std::uint32_t, 257> first_byte_begin{};  // patterns beginning with byte b: [begin[b], begin[b+1])
  std::vector<StartCandidate> longest_first;  // each first byte's patterns, longest first
  bool holds_blank = false;  // some pattern holds a space, tab, CR or line feed
};

StartMatcher build_start_matcher(const PatternList& start_patterns);

// The length of the longest start pattern that `line` begins with, or 0.
std::size_t start_pattern_length(const StartMatcher& matcher, std::string_view line);
