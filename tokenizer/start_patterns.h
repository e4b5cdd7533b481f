// Start patterns: at most one, the longest that matches, is removed from the
// very start of each corpus line before it is tokenised.
//
// Only the patterns that begin with the line's first byte can match. When
// there are a few of them, each is tried, eight bytes at a time and without a
// branch on the outcome. When there are more, a compact trie of them is
// walked along the line: each node stands for a prefix shared by patterns,
// reached from its parent by an edge whose bytes are compared with the line's
// in one go, and its children are told apart by their first byte, kept in
// ascending order. The walk stops at the first byte that leaves the trie, so
// a line costs the bytes it shares with the patterns, however many there are
// and however many are prefixes of one another. The trie has at most two
// nodes per pattern and holds each byte of the patterns at most once.
#pragma once

#include <array>
#include <cstddef>
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
  std::uint32_t pattern = 0;  // its index in StartMatcher::sorted
};

// A node of the trie: the prefix of `depth` bytes that its patterns share.
// The edge from its parent (of depth d) spells bytes d .. depth-1 of that
// prefix: the first is in StartMatcher::trie_byte, the others in
// StartMatcher::trie_labels from `label`.
struct StartTrieNode {
  std::size_t depth = 0;
  std::size_t label = 0;
  std::uint32_t first_child = 0;  // its children are nodes [first_child, first_child + child_count)
  std::uint32_t child_count = 0;
  bool ends_pattern = false;  // the prefix is itself a start pattern
};

struct StartMatcher {
  std::vector<std::string> sorted;  // ascending byte order, unique
  std::array<std::uint32_t, 257>
      first_byte_begin{};                     // patterns beginning with byte b: [begin[b], begin[b+1])
  std::vector<StartCandidate> longest_first;  // each first byte's patterns, longest first
  // For a first byte with more patterns than a scan tries: the trie node of
  // them, or none (0xFFFFFFFF).
  std::array<std::uint32_t, 256> first_byte_node{};
  std::vector<StartTrieNode> trie;
  std::vector<unsigned char> trie_byte;  // each node's first edge byte, ascending among siblings
  std::string trie_labels;
  bool holds_blank = false;  // some pattern holds a space, tab, CR or line feed
};

StartMatcher build_start_matcher(const PatternList& start_patterns);

// The length of the longest start pattern that `line` begins with, or 0.
std::size_t start_pattern_length(const StartMatcher& matcher, std::string_view line);
