// The runs of adjacent tokens that could become recurrent patterns (see
// candidates.h). Runs grow one token a level: a run of k tokens is counted
// only where the two runs of k - 1 tokens it holds both occur twice, so that
// each level looks at fewer runs than the one before.
// A run is known by a hash of its tokens, which stands for it.
#include "candidates.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "code_words.h"
#include "hash_table.h"
#include "ranking.h"

namespace {

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// The hash of a run extended by one token; never 0, which marks no run.
std::uint64_t extend(std::uint64_t run, std::uint32_t token) {
  return mix(run * 0x9E3779B97F4A7C15ULL + token + 1) | 1;
}

// A run of one length, counted where it does not overlap an earlier
// occurrence of itself, in a hash table (see hash_table.h) by its hash, which
// stands for the run.
struct RunSlot {
  std::uint64_t hash = 0;  // 0: free
  std::uint32_t count = 0;
  std::uint32_t first = 0;     // where it occurs first
  std::uint32_t last_end = 0;  // where its last counted occurrence ends
  explicit operator bool() const { return hash != 0; }
};

// A candidate's text, in a hash table by its hash: the top half of the hash,
// which is all the table reads of it while it has up to 2^32 slots, and
// where the text stands among the candidates.
struct TextSlot {
  std::uint32_t tag = 0;
  std::uint32_t index = 0;  // in `by_text`, + 1; 0: free
  explicit operator bool() const { return index != 0; }
};

// The candidates found so far, one for each text: the same text may be runs
// of different tokens.
struct CandidateTexts {
  std::vector<Candidate> by_text;
  HashTable<TextSlot> slots;
};

// The candidate of `text`, added when there is none yet.
Candidate& candidate_of(CandidateTexts& candidates, std::string_view text) {
  const std::uint64_t h = std::hash<std::string_view>{}(text);
  const auto tag = static_cast<std::uint32_t>(h >> 32);
  bool added = false;
  const std::size_t at = find_or_add(
      candidates.slots, h,
      [&](const TextSlot& slot) {
        return slot.tag == tag && candidates.by_text[slot.index - 1].text == text;
      },
      [](const TextSlot& slot, unsigned) { return std::uint64_t{slot.tag} << 32; }, added);
  if (added) {
    candidates.by_text.push_back({std::string(text)});
    candidates.slots.slots[at] = {tag, static_cast<std::uint32_t>(candidates.by_text.size())};
  }
  return candidates.by_text[candidates.slots.slots[at].index - 1];
}

// The run of tokens that starts at each place of the sample, at one length.
struct Runs {
  std::vector<std::uint64_t> hash;   // 0: no run there that may be counted
  std::vector<std::uint32_t> bytes;  // its text's length
  std::vector<bool> frequent;        // whether it occurs at least twice, and may grow
  std::vector<std::uint32_t> slot;   // its slot in the table of its length
};

// The runs of one token: each token is a run that may grow. `lengths` holds
// each counted token's text length, by token id.
Runs single_tokens(const std::vector<std::uint32_t>& tokens, const std::vector<std::uint32_t>& lengths) {
  const std::size_t n = tokens.size();
  Runs runs{std::vector<std::uint64_t>(n, 0), std::vector<std::uint32_t>(n, 0), std::vector<bool>(n, false),
            std::vector<std::uint32_t>(n)};
  for (std::size_t i = 0; i < n; ++i) {
    if (tokens[i] == no_token) continue;
    runs.hash[i] = extend(0, tokens[i]);
    runs.bytes[i] = lengths[tokens[i]];
    runs.frequent[i] = true;
  }
  return runs;
}

// Runs of k tokens at i: the run of k - 1 at i, extended where both it and
// the run of k - 1 at i + 1 occur twice and the text stays short enough.
// Returns how many there are.
std::size_t grow_runs(Runs& runs, const std::vector<std::uint32_t>& tokens,
                      const std::vector<std::uint32_t>& lengths, std::size_t k) {
  const std::size_t n = tokens.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i + k <= n; ++i) {
    const std::uint32_t last = tokens[i + k - 1];
    if (runs.frequent[i] && runs.frequent[i + 1] && runs.bytes[i] + lengths[last] <= longest_run_bytes) {
      runs.hash[i] = extend(runs.hash[i], last);
      runs.bytes[i] += lengths[last];
      ++count;
    } else {
      runs.hash[i] = 0;
    }
  }
  for (std::size_t i = n + 1 - std::min(n + 1, k); i < n; ++i) runs.hash[i] = 0;
  return count;
}

// Counts the `count` runs of k tokens in `table`, each where it does not
// overlap its occurrence counted before, and marks those that occur twice.
void count_runs(Runs& runs, HashTable<RunSlot>& table, std::size_t k, std::size_t count) {
  const std::size_t n = runs.hash.size();
  clear(table, count);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t h = runs.hash[i];
    if (h == 0) continue;
    bool added = false;
    runs.slot[i] = static_cast<std::uint32_t>(find_or_add(
        table, h, [h](const RunSlot& run) { return run.hash == h; },
        [](const RunSlot& run, unsigned) { return run.hash; }, added));
    RunSlot& run = table.slots[runs.slot[i]];
    if (added) {  // a free slot holds zeros
      run.hash = h;
      run.first = static_cast<std::uint32_t>(i);
    }
    if (i >= run.last_end) {
      ++run.count;
      run.last_end = static_cast<std::uint32_t>(i + k);
    }
  }
  for (std::size_t i = 0; i < n; ++i)
    runs.frequent[i] = runs.hash[i] != 0 && table.slots[runs.slot[i]].count >= 2;
}

// Adds every run of k tokens in `table` that occurs twice to the candidate
// of its text, with the bits of the code words and separators it replaces.
void add_runs(const HashTable<RunSlot>& table, const TokenizedSample& sample, std::size_t k,
              CandidateTexts& candidates) {
  for (const RunSlot& run : table.slots) {
    if (run.count < 2) continue;
    char bytes_of_run[longest_run_bytes];
    std::size_t size = 0;
    std::uint64_t replaced = 2 * (k - 1);
    for (std::size_t j = run.first; j < run.first + k; ++j) {
      const std::string& token = token_text(sample, sample.tokens[j]);
      std::copy(token.begin(), token.end(), bytes_of_run + size);
      size += token.size();
      replaced += sample.code_size[sample.tokens[j]];
    }
    Candidate& candidate = candidate_of(candidates, std::string_view(bytes_of_run, size));
    candidate.count += run.count;
    candidate.replaced_bits += replaced * run.count;
  }
}

// The rank a new pattern of `count` occurrences would take among the
// counted tokens.
std::size_t rank_of(const TokenizedSample& sample, const std::string& text, std::uint64_t count) {
  const PatternCount entry{text, static_cast<std::int64_t>(count)};
  return static_cast<std::size_t>(
      std::lower_bound(sample.ranked.begin(), sample.ranked.end(), entry, compare_frequency_word) -
      sample.ranked.begin());
}

// The candidates of `found` that save bits, scored, best first: what they
// replace, less their own code word and the push cost (`push_cost[r]`: what
// pushing the tokens from rank r on one rank further costs).
std::vector<Candidate> score_candidates(const TokenizedSample& sample, std::vector<Candidate>& found) {
  const std::vector<std::uint32_t> lengths = code_lengths(sample.ranked.size() + 1);
  std::vector<std::uint64_t> push_cost(sample.ranked.size() + 1, 0);
  for (std::size_t r = sample.ranked.size(); r-- > 0;) {
    push_cost[r] = push_cost[r + 1] +
                   static_cast<std::uint64_t>(sample.ranked[r].second) * (lengths[r + 1] - lengths[r]);
  }
  std::vector<Candidate> candidates;
  for (Candidate& candidate : found) {
    const std::size_t r = rank_of(sample, candidate.text, candidate.count);
    candidate.gain = static_cast<std::int64_t>(candidate.replaced_bits) -
                     static_cast<std::int64_t>(candidate.count * lengths[r]) -
                     static_cast<std::int64_t>(push_cost[r]);
    if (candidate.gain > 0) candidates.push_back(std::move(candidate));
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.gain != b.gain ? a.gain > b.gain : a.text < b.text;
  });
  return candidates;
}

}  // namespace

std::vector<Candidate> find_candidates(const TokenizedSample& sample) {
  // The length of each counted token's text, per token id.
  std::vector<std::uint32_t> lengths(sample.rank.size(), 0);
  for (std::size_t v = 0; v < lengths.size(); ++v) {
    if (sample.rank[v] != no_token)
      lengths[v] = static_cast<std::uint32_t>(sample.ranked[sample.rank[v]].first.size());
  }
  Runs runs = single_tokens(sample.tokens, lengths);
  CandidateTexts candidates;
  HashTable<RunSlot> table;
  for (std::size_t k = 2; k <= longest_run; ++k) {
    const std::size_t count = grow_runs(runs, sample.tokens, lengths, k);
    if (count == 0) break;
    count_runs(runs, table, k, count);
    add_runs(table, sample, k, candidates);
  }
  return score_candidates(sample, candidates.by_text);
}

std::vector<Candidate> pick_batch(const std::vector<Candidate>& candidates, std::size_t size,
                                  const PatternList& chosen) {
  std::vector<Candidate> batch;
  for (const Candidate& candidate : candidates) {
    if (batch.size() == size) break;
    if (std::find(chosen.begin(), chosen.end(), candidate.text) != chosen.end()) continue;
    const bool nested = std::any_of(batch.begin(), batch.end(), [&](const Candidate& taken) {
      return taken.text.find(candidate.text) != std::string::npos ||
             candidate.text.find(taken.text) != std::string::npos;
    });
    if (!nested) batch.push_back(candidate);
  }
  return batch;
}
