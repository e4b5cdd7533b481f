#include "start_patterns.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "trim.h"

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;

// Up to this many patterns with one first byte are all tried; more take the
// trie.
constexpr std::uint32_t max_scanned = 8;

std::uint64_t load8(const char* bytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The longest of `candidates` (longest first) that `line` begins with, or 0.
// Every candidate is tried without a branch on the outcome, as which pattern a
// line begins with is hard to predict; no byte past `line` is read.
std::size_t longest_candidate(const StartMatcher& m, std::span<const StartCandidate> candidates,
                              std::string_view line) {
  const std::size_t n = line.size();
  if (n < 8) {
    for (const StartCandidate& c : candidates) {
      if (c.size <= n && line.starts_with(m.sorted[c.pattern])) return c.size;
    }
    return 0;
  }
  const std::uint64_t head = load8(line.data());
  std::size_t best = 0;
  for (const StartCandidate& c : candidates) {
    const bool fits = c.size <= n;
    const bool long_pattern = c.size > 8;
    const std::size_t tail_at = fits && long_pattern ? c.size - 8 : 0;
    bool match =
        fits & ((head & c.head_mask) == c.head) & (!long_pattern | (load8(line.data() + tail_at) == c.tail));
    if (c.size > 16 && match) match = line.starts_with(m.sorted[c.pattern]);
    best = std::max(best, match ? c.size : 0);
  }
  return best;
}

// The longest pattern under trie node `n` that `line` begins with, or 0, when
// line[0] is the first byte of the edge to `n` from the root.
std::size_t longest_in_trie(const StartMatcher& m, std::uint32_t n, std::string_view line) {
  std::size_t best = 0;
  std::size_t matched = 1;  // the bytes of `line` known to be on the path to `n`
  for (;;) {
    const StartTrieNode& node = m.trie[n];
    if (node.depth > line.size() ||
        std::memcmp(line.data() + matched, m.trie_labels.data() + node.label, node.depth - matched) != 0) {
      return best;
    }
    if (node.ends_pattern) best = node.depth;
    if (node.depth == line.size()) return best;
    const unsigned char* first = m.trie_byte.data() + node.first_child;
    const unsigned char* last = first + node.child_count;
    const unsigned char* child = std::lower_bound(first, last, static_cast<unsigned char>(line[node.depth]));
    if (child == last || *child != static_cast<unsigned char>(line[node.depth])) return best;
    n = node.first_child + static_cast<std::uint32_t>(child - first);
    matched = node.depth + 1;
  }
}

// Builds the trie of the patterns m.sorted[lo, hi), which all begin with the
// same byte, and returns the node of that byte.
std::uint32_t build_trie(StartMatcher& m, std::uint32_t lo, std::uint32_t hi) {
  struct Pending {
    std::uint32_t node, lo, hi;
  };
  std::vector<Pending> pending;
  // Adds the node of m.sorted[lo, hi), which share their first
  // `parent_depth` + 1 bytes: its prefix is the longest they share, which is
  // the one the first and the last share, as they stand in byte order.
  auto add_node = [&](std::uint32_t first, std::uint32_t end, std::size_t parent_depth) {
    const std::string& a = m.sorted[first];
    const std::string& z = m.sorted[end - 1];
    std::size_t depth = parent_depth + 1;
    while (depth < a.size() && depth < z.size() && a[depth] == z[depth]) ++depth;
    StartTrieNode node;
    node.depth = depth;
    node.label = m.trie_labels.size();
    node.ends_pattern = a.size() == depth;  // only the first can be that short
    m.trie_labels.append(a, parent_depth + 1, depth - parent_depth - 1);
    const auto index = static_cast<std::uint32_t>(m.trie.size());
    m.trie.push_back(node);
    m.trie_byte.push_back(static_cast<unsigned char>(a[parent_depth]));
    pending.push_back({index, first, end});
    return index;
  };
  const std::uint32_t root = add_node(lo, hi, 0);
  while (!pending.empty()) {
    const Pending p = pending.back();
    pending.pop_back();
    const std::size_t depth = m.trie[p.node].depth;
    const auto first_child = static_cast<std::uint32_t>(m.trie.size());
    // The others are longer than `depth`; those with the same next byte
    // stand together and make one child.
    std::uint32_t i = p.lo + (m.trie[p.node].ends_pattern ? 1 : 0);
    while (i < p.hi) {
      const char next = m.sorted[i][depth];
      std::uint32_t end = i + 1;
      while (end < p.hi && m.sorted[end][depth] == next) ++end;
      add_node(i, end, depth);
      i = end;
    }
    m.trie[p.node].first_child = first_child;
    m.trie[p.node].child_count = static_cast<std::uint32_t>(m.trie.size()) - first_child;
  }
  return root;
}

}  // namespace

StartMatcher build_start_matcher(const PatternList& start_patterns) {
  StartMatcher m;
  m.sorted = start_patterns;
  std::sort(m.sorted.begin(), m.sorted.end());
  m.sorted.erase(std::unique(m.sorted.begin(), m.sorted.end()), m.sorted.end());
  // The patterns are not empty; those with the same first byte stand together.
  std::size_t i = 0;
  for (std::size_t b = 0; b <= 256; ++b) {
    m.first_byte_begin[b] = static_cast<std::uint32_t>(i);
    while (b < 256 && i < m.sorted.size() && static_cast<unsigned char>(m.sorted[i][0]) == b) ++i;
  }
  for (const std::string& p : m.sorted) {
    StartCandidate c;
    char head[8] = {};
    char mask[8] = {};
    for (std::size_t k = 0; k < 8 && k < p.size(); ++k) {
      head[k] = p[k];
      mask[k] = static_cast<char>(0xFF);
    }
    c.head = load8(head);
    c.head_mask = load8(mask);
    if (p.size() > 8) c.tail = load8(p.data() + p.size() - 8);
    c.size = p.size();
    c.pattern = static_cast<std::uint32_t>(m.longest_first.size());
    if (p.find_first_of(blank_bytes) != std::string::npos) m.holds_blank = true;
    m.longest_first.push_back(c);
  }
  m.first_byte_node.fill(none);
  for (std::size_t b = 0; b < 256; ++b) {
    const std::uint32_t begin = m.first_byte_begin[b];
    const std::uint32_t end = m.first_byte_begin[b + 1];
    std::stable_sort(m.longest_first.begin() + begin, m.longest_first.begin() + end,
                     [](const StartCandidate& x, const StartCandidate& y) { return x.size > y.size; });
    if (end - begin > max_scanned) m.first_byte_node[b] = build_trie(m, begin, end);
  }
  return m;
}

std::size_t start_pattern_length(const StartMatcher& m, std::string_view line) {
  if (line.empty()) return 0;
  const auto b = static_cast<unsigned char>(line[0]);
  if (m.first_byte_node[b] != none) return longest_in_trie(m, m.first_byte_node[b], line);
  const std::uint32_t begin = m.first_byte_begin[b];
  const std::uint32_t end = m.first_byte_begin[b + 1];
  return longest_candidate(m, std::span(m.longest_first).subspan(begin, end - begin), line);
}
