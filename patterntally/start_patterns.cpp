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
    if (!p.empty()) m.first_bytes[static_cast<unsigned char>(p[0])] = true;
  }
  return m;
}

std::size_t start_pattern_length(const StartMatcher& m, std::string_view line) {
  if (line.empty() || !m.first_bytes[static_cast<unsigned char>(line[0])]) return 0;
  auto after = std::upper_bound(m.sorted.begin(), m.sorted.end(), line,
                                [](std::string_view l, const std::string& p) { return l < p; });
  if (after == m.sorted.begin()) return 0;
  auto i = static_cast<std::uint32_t>(after - m.sorted.begin() - 1);
  for (; i != none; i = m.longest_prefix[i]) {
    if (line.starts_with(m.sorted[i])) return m.sorted[i].size();
  }
  return 0;
}
