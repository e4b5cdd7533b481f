#include "start_patterns.h"

#include <algorithm>

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;

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
  m.longest_first.resize(m.sorted.size());
  for (std::uint32_t k = 0; k < m.sorted.size(); ++k) m.longest_first[k] = k;
  for (std::size_t b = 0; b < 256; ++b) {
    std::stable_sort(m.longest_first.begin() + m.first_byte_begin[b],
                     m.longest_first.begin() + m.first_byte_begin[b + 1],
                     [&](std::uint32_t x, std::uint32_t y) { return m.sorted[x].size() > m.sorted[y].size(); });
  }
  return m;
}

std::size_t start_pattern_length(const StartMatcher& m, std::string_view line) {
  if (line.empty()) return 0;
  const auto b = static_cast<unsigned char>(line[0]);
  const std::uint32_t begin = m.first_byte_begin[b];
  const std::uint32_t end = m.first_byte_begin[b + 1];
  if (end - begin <= 8) {
    for (std::uint32_t k = begin; k < end; ++k) {
      const std::string& p = m.sorted[m.longest_first[k]];
      if (p.size() <= line.size() && std::equal(p.begin(), p.end(), line.begin())) return p.size();
    }
    return 0;
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
