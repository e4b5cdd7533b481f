// What a sample of websites costs with one list of recurrent patterns (see
// tokenized_sample.h): its tokens in order, then their ranks and code words.
#include "tokenized_sample.h"

#include <algorithm>

#include "code_words.h"
#include "ranking.h"

namespace {

// Appends the tokens of `texts` to `sample.tokens`, `no_token` after each
// line and at each run of invalid bytes, and counts them; returns the "00"
// separators the lines need.
std::uint64_t walk_sample(const Tokenizer& tokenizer, const std::vector<std::string>& texts,
                          TokenizedSample& sample) {
  std::uint64_t separators = 0;
  for (const std::string& text : texts) {
    const std::size_t first = sample.tokens.size();
    std::size_t breaks = 0;
    walk_tokens(
        tokenizer, text,
        [&](std::uint32_t token) {
          sample.tokens.push_back(token);
          ++sample.count[token];
        },
        [&](std::size_t) {
          if (sample.tokens.size() != first && sample.tokens.back() != no_token) {
            sample.tokens.push_back(no_token);
            ++breaks;
          }
        });
    const std::size_t line_tokens = sample.tokens.size() - first - breaks;
    if (line_tokens > 1) separators += line_tokens - 1;
    if (sample.tokens.size() == first || sample.tokens.back() != no_token) sample.tokens.push_back(no_token);
  }
  return separators;
}

// Ranks the counted tokens of `sample`, gives each its code word's length and
// adds their bits to `sample.bits`. Their texts differ, so the order is the
// same whatever order they come in.
void rank_sample(const Tokenizer& tokenizer, TokenizedSample& sample) {
  const auto ids = static_cast<std::uint32_t>(sample.count.size());
  std::vector<std::pair<PatternCount, std::uint32_t>> counted;
  for (std::uint32_t token = 0; token < ids; ++token) {
    if (sample.count[token] == 0) continue;
    counted.push_back(
        {{token_text(tokenizer, token), static_cast<std::int64_t>(sample.count[token])}, token});
  }
  std::sort(counted.begin(), counted.end(),
            [](const auto& a, const auto& b) { return compare_frequency_word(a.first, b.first); });
  const std::vector<std::uint32_t> lengths = code_lengths(counted.size());
  sample.rank.assign(ids, no_token);
  sample.code_size.assign(ids, 0);
  sample.ranked.reserve(counted.size());
  for (std::size_t r = 0; r < counted.size(); ++r) {
    const std::uint32_t token = counted[r].second;
    sample.ranked.push_back(std::move(counted[r].first));
    sample.rank[token] = static_cast<std::uint32_t>(r);
    sample.code_size[token] = lengths[r];
    sample.bits += sample.count[token] * sample.code_size[token];
  }
}

}  // namespace

TokenizedSample tokenize_sample(const std::vector<std::string>& texts, const PatternList& valid,
                                const PatternList& recurrent) {
  TokenizedSample sample;
  const Tokenizer tokenizer = build_tokenizer(valid, recurrent, {}, TokenizerWalk::dense);
  sample.count.assign(token_count(tokenizer), 0);
  sample.bits = 2 * walk_sample(tokenizer, texts, sample);
  rank_sample(tokenizer, sample);
  return sample;
}
