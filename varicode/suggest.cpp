// The learner of recurrent patterns (see suggest.h): batches of the best
// candidates while they lower the cost, then the polish.
#include "suggest.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

// Polish rounds at most.
constexpr std::size_t polish_rounds = 10;

// The patterns chosen so far and the sample tokenised with them.
struct Learning {
  const std::vector<std::string>& texts;
  const PatternList& valid;
  const std::function<void(std::size_t, std::uint64_t)>& progress;
  PatternList chosen;
  TokenizedSample sample;
};

// Takes the list `tried` when it lowers the cost.
bool try_list(Learning& learning, const PatternList& tried) {
  TokenizedSample next = tokenize_sample(learning.texts, learning.valid, tried);
  if (next.bits >= learning.sample.bits) return false;
  learning.chosen = tried;
  learning.sample = std::move(next);
  if (learning.progress) learning.progress(learning.chosen.size(), learning.sample.bits);
  return true;
}

// Adds the best candidates of the sample as it stands, a batch at most the
// `size` given; a batch that does not lower the cost is tried again as its
// best alone. False when neither does.
bool add_batch(Learning& learning, std::size_t size) {
  const std::vector<Candidate> candidates = find_candidates(learning.sample);
  for (;;) {
    const std::vector<Candidate> batch = pick_batch(candidates, size, learning.chosen);
    if (batch.empty()) return false;
    PatternList tried = learning.chosen;
    for (const Candidate& candidate : batch) tried.push_back(candidate.text);
    if (try_list(learning, tried)) return true;
    if (size == 1) return false;
    size = 1;
  }
}

// The code word's length and the count of each counted token.
using CountedTokens = std::unordered_map<std::string_view, std::pair<std::uint32_t, std::uint64_t>>;

CountedTokens counted_tokens(const TokenizedSample& sample) {
  CountedTokens counted;
  for (std::size_t v = 0; v < sample.rank.size(); ++v) {
    if (sample.count[v] != 0)
      counted.emplace(token_text(sample, static_cast<std::uint32_t>(v)),
                      std::pair{sample.code_size[v], sample.count[v]});
  }
  return counted;
}

// What `pattern` saves where it stands now, roughly: its occurrences, each
// written with the code words of the greedy tokens of its text without it
// (the longest other counted token first, else single bytes) instead of its
// own.
std::int64_t value_of(const CountedTokens& counted, std::string_view pattern) {
  const auto own = counted.find(pattern);
  if (own == counted.end()) return 0;
  std::uint64_t bits = 0;
  std::size_t tokens = 0;
  for (std::size_t at = 0; at < pattern.size(); ++tokens) {
    std::size_t size = std::min(pattern.size() - at, longest_run_bytes);
    for (; size > 1; --size) {
      if (size != pattern.size() && counted.contains(pattern.substr(at, size))) break;
    }
    // A byte that is counted nowhere else would take a rank past the others.
    const auto found = counted.find(pattern.substr(at, size));
    bits += found != counted.end() ? found->second.first : own->second.first + 1;
    at += size;
  }
  bits += 2 * (tokens - 1);
  return static_cast<std::int64_t>(own->second.second) *
         (static_cast<std::int64_t>(bits) - static_cast<std::int64_t>(own->second.first));
}

// Where the pattern that saves least stands in `chosen` (the first of
// those), and what it saves.
std::pair<std::size_t, std::int64_t> weakest_pattern(const Learning& learning) {
  const CountedTokens counted = counted_tokens(learning.sample);
  std::size_t weakest = 0;
  std::int64_t weakest_value = 0;
  for (std::size_t i = 0; i < learning.chosen.size(); ++i) {
    const std::int64_t value = value_of(counted, learning.chosen[i]);
    if (i == 0 || value < weakest_value) {
      weakest = i;
      weakest_value = value;
    }
  }
  return {weakest, weakest_value};
}

// The polish: the weakest pattern out, the best candidate in, while the best
// candidate is expected to save more and the swap lowers the cost.
void polish(Learning& learning) {
  for (std::size_t round = 0; round < polish_rounds && !learning.chosen.empty(); ++round) {
    const std::vector<Candidate> best = pick_batch(find_candidates(learning.sample), 1, learning.chosen);
    if (best.empty()) break;
    const auto [weakest, weakest_value] = weakest_pattern(learning);
    if (best.front().gain <= weakest_value) break;
    PatternList tried = learning.chosen;
    tried.erase(tried.begin() + static_cast<std::ptrdiff_t>(weakest));
    tried.push_back(best.front().text);
    if (!try_list(learning, tried)) break;
  }
}

}  // namespace

PatternList suggest_patterns(const std::vector<std::string>& texts, const PatternList& valid, std::size_t n,
                             const std::function<void(std::size_t, std::uint64_t)>& progress) {
  Learning learning{texts, valid, progress, {}, tokenize_sample(texts, valid, {})};
  if (progress) progress(0, learning.sample.bits);
  while (learning.chosen.size() < n) {
    const std::size_t chosen = learning.chosen.size();
    if (!add_batch(learning, std::min(std::max<std::size_t>(5, chosen / 10), n - chosen))) break;
  }
  polish(learning);
  return learning.chosen;
}
