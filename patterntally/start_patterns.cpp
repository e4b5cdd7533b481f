#include "start_patterns.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "trim.h"

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;

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
    bool match = fits & ((head & c.head_mask) == c.head) &
                 (!long_pattern | (load8(line.data() + tail_at) == c.tail));
    if (c.size > 16 && match) match = line.starts_with(m.sorted[c.pattern]);
    best = std::max(best, match ? c.size : 0);
  }
  return best;
}

}  // namespace

StartMatcher build_start_matcher(const PatternList& start_patterns) {
  StartMatcher m;
  m.sorted = start_patterns;
  std::sort(m.sorted.begin(), m.sorted.end());
  m.sorted.erase(std::unique(m.sorted.begin(), m.sorted.end()), m.sorted.end());
  // In sorted order, the patterns that are prefixes of the current one form a
  // stack: each is a prefix of the next.
  m.longest_prefix.assign(m.sorted.size(), none);
  std::vector<std::uint32_t> stack;
  for (std::uint32_t i = 0; i < m.sorted.size(); ++i) {
    const std::string& p = m.sorted[i];
    while (!stack.empty() && !p.starts_with(m.sorted[stack.back()])) stack.pop_back();
    if (!stack.empty()) m.longest_prefix[i] = stack.back();
    stack.push_back(i);
  }
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
  for (std::size_t b = 0; b < 256; ++b) {
    std::stable_sort(m.longest_first.begin() + m.first_byte_begin[b],
                     m.longest_first.begin() + m.first_byte_begin[b + 1],
                     [](const StartCandidate& x, const StartCandidate& y) { return x.size > y.size; });
  }
  return m;
}

std::size_t start_pattern_length(const StartMatcher& m, std::string_view line) {
  if (line.empty()) return 0;
  const auto b = static_cast<unsigned char>(line[0]);
  const std::uint32_t begin = m.first_byte_begin[b];
  const std::uint32_t end = m.first_byte_begin[b + 1];
  if (end - begin <= 8) {
    return longest_candidate(m, std::span(m.longest_first).subspan(begin, end - begin), line);
  }
  const auto first = m.sorted.begin() + begin;
  auto after = std::upper_bound(first, m.sorted.begin() + end, line,
                                [](std::string_view l, const std::string& p) { return l < p; });
  if (after == first) return 0;
  auto i = static_cast<std::uint32_t>(after - m.sorted.begin() - 1);
  for (; i != none; i = m.longest_prefix[i]) {
    if (line.starts_with(m.sorted[i])) return m.sorted[i].size();
  }
  return 0;
}
