#include "suggest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unordered_map>

#include "code_words.h"
#include "hash_table.h"
#include "line_reader.h"
#include "output.h"
#include "patterntally.h"
#include "progress.h"
#include "ranking.h"
#include "start_patterns.h"
#include "trim.h"

TokenizedSample tokenize_sample(const std::vector<std::string>& texts, const PatternList& valid,
                                const PatternList& recurrent) {
  TokenizedSample s;
  const Tokenizer t = build_tokenizer(valid, recurrent, {}, TokenizerWalk::dense);
  const std::uint32_t ids = token_count(t);
  s.count.assign(ids, 0);
  std::uint64_t separators = 0;
  for (const std::string& text : texts) {
    const std::size_t first = s.tokens.size();
    std::size_t breaks = 0;
    walk_tokens(
        t, text,
        [&](std::uint32_t token) {
          s.tokens.push_back(token);
          ++s.count[token];
        },
        [&](std::size_t) {
          if (s.tokens.size() != first && s.tokens.back() != no_token) {
            s.tokens.push_back(no_token);
            ++breaks;
          }
        });
    const std::size_t line_tokens = s.tokens.size() - first - breaks;
    if (line_tokens > 1) separators += line_tokens - 1;
    if (s.tokens.size() == first || s.tokens.back() != no_token) s.tokens.push_back(no_token);
  }
  // The counted tokens ranked, each with its id; their texts differ, so the
  // order is the same whatever order they come in.
  std::vector<std::pair<PatternCount, std::uint32_t>> counted;
  for (std::uint32_t token = 0; token < ids; ++token) {
    if (s.count[token] == 0) continue;
    counted.push_back({{token_text(t, token), static_cast<std::int64_t>(s.count[token])}, token});
  }
  std::sort(counted.begin(), counted.end(),
            [](const auto& a, const auto& b) { return compare_frequency_word(a.first, b.first); });
  const std::vector<std::uint32_t> lengths = code_lengths(counted.size());
  s.rank.assign(ids, no_token);
  s.code_size.assign(ids, 0);
  s.bits = 2 * separators;
  s.ranked.reserve(counted.size());
  for (std::size_t r = 0; r < counted.size(); ++r) {
    const std::uint32_t token = counted[r].second;
    s.ranked.push_back(std::move(counted[r].first));
    s.rank[token] = static_cast<std::uint32_t>(r);
    s.code_size[token] = lengths[r];
    s.bits += s.count[token] * s.code_size[token];
  }
  return s;
}

namespace {

constexpr std::size_t longest_run = 8;         // tokens
constexpr std::size_t longest_run_bytes = 24;  // bytes

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
  std::uint32_t index = 0;  // in by_text, + 1; 0: free
  explicit operator bool() const { return index != 0; }
};

// The rank a new pattern of `count` occurrences would take, and what pushing
// the tokens below that rank one rank further would cost (`push_cost[r]` for
// rank r).
std::size_t rank_of(const TokenizedSample& s, const std::string& text, std::uint64_t count) {
  const PatternCount entry{text, static_cast<std::int64_t>(count)};
  return static_cast<std::size_t>(
      std::lower_bound(s.ranked.begin(), s.ranked.end(), entry, compare_frequency_word) - s.ranked.begin());
}

}  // namespace

std::vector<Candidate> find_candidates(const TokenizedSample& s) {
  const std::vector<std::uint32_t>& tokens = s.tokens;
  const std::size_t n = tokens.size();
  // The length of each counted token's text, per token id.
  std::vector<std::uint32_t> depth(s.rank.size(), 0);
  for (std::size_t v = 0; v < depth.size(); ++v) {
    if (s.rank[v] != no_token) depth[v] = static_cast<std::uint32_t>(s.ranked[s.rank[v]].first.size());
  }
  // Level 1: each token is a run that may grow.
  std::vector<std::uint64_t> hash(n, 0);
  std::vector<std::uint32_t> bytes(n, 0);
  std::vector<bool> frequent(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    if (tokens[i] == no_token) continue;
    hash[i] = extend(0, tokens[i]);
    bytes[i] = depth[tokens[i]];
    frequent[i] = true;
  }
  // The same text may be runs of different tokens: each text is one
  // candidate, found by the hash of its bytes.
  std::vector<Candidate> by_text;
  HashTable<TextSlot> texts;
  auto candidate_of = [&](std::string_view text) -> Candidate& {
    const std::uint64_t h = std::hash<std::string_view>{}(text);
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    bool added = false;
    const std::size_t at = find_or_add(
        texts, h,
        [&](const TextSlot& slot) { return slot.tag == tag && by_text[slot.index - 1].text == text; },
        [](const TextSlot& slot, unsigned) { return std::uint64_t{slot.tag} << 32; }, added);
    if (added) {
      by_text.push_back({std::string(text)});
      texts.slots[at] = {tag, static_cast<std::uint32_t>(by_text.size())};
    }
    return by_text[texts.slots[at].index - 1];
  };
  HashTable<RunSlot> table;
  std::vector<std::uint32_t> slot(n);
  for (std::size_t k = 2; k <= longest_run; ++k) {
    // Runs of k tokens at i: the run of k - 1 at i, extended where both it
    // and the run of k - 1 at i + 1 occur twice.
    std::size_t runs = 0;
    for (std::size_t i = 0; i + k <= n; ++i) {
      const std::uint32_t last = tokens[i + k - 1];
      if (frequent[i] && frequent[i + 1] && bytes[i] + depth[last] <= longest_run_bytes) {
        hash[i] = extend(hash[i], last);
        bytes[i] += depth[last];
        ++runs;
      } else {
        hash[i] = 0;
      }
    }
    for (std::size_t i = n + 1 - std::min(n + 1, k); i < n; ++i) hash[i] = 0;
    if (runs == 0) break;
    clear(table, runs);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t h = hash[i];
      if (h == 0) continue;
      bool added = false;
      slot[i] = static_cast<std::uint32_t>(find_or_add(
          table, h, [h](const RunSlot& run) { return run.hash == h; },
          [](const RunSlot& run, unsigned) { return run.hash; }, added));
      RunSlot& run = table.slots[slot[i]];
      if (added) {  // a free slot holds zeros
        run.hash = h;
        run.first = static_cast<std::uint32_t>(i);
      }
      if (i >= run.last_end) {
        ++run.count;
        run.last_end = static_cast<std::uint32_t>(i + k);
      }
    }
    for (std::size_t i = 0; i < n; ++i) frequent[i] = hash[i] != 0 && table.slots[slot[i]].count >= 2;
    for (const RunSlot& run : table.slots) {
      if (run.count < 2) continue;
      char bytes_of_run[longest_run_bytes];
      std::size_t size = 0;
      std::uint64_t replaced = 2 * (k - 1);
      for (std::size_t j = run.first; j < run.first + k; ++j) {
        const std::string& token = token_text(s, tokens[j]);
        std::copy(token.begin(), token.end(), bytes_of_run + size);
        size += token.size();
        replaced += s.code_size[tokens[j]];
      }
      Candidate& c = candidate_of(std::string_view(bytes_of_run, size));
      c.count += run.count;
      c.replaced_bits += replaced * run.count;
    }
  }
  // Scores: what the candidate's own code word and the push cost.
  const std::vector<std::uint32_t> lengths = code_lengths(s.ranked.size() + 1);
  std::vector<std::uint64_t> push_cost(s.ranked.size() + 1, 0);
  for (std::size_t r = s.ranked.size(); r-- > 0;) {
    push_cost[r] =
        push_cost[r + 1] + static_cast<std::uint64_t>(s.ranked[r].second) * (lengths[r + 1] - lengths[r]);
  }
  std::vector<Candidate> candidates;
  for (Candidate& c : by_text) {
    const std::size_t r = rank_of(s, c.text, c.count);
    c.gain = static_cast<std::int64_t>(c.replaced_bits) - static_cast<std::int64_t>(c.count * lengths[r]) -
             static_cast<std::int64_t>(push_cost[r]);
    if (c.gain > 0) candidates.push_back(std::move(c));
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.gain != b.gain ? a.gain > b.gain : a.text < b.text;
  });
  return candidates;
}

std::vector<Candidate> pick_batch(const std::vector<Candidate>& candidates, std::size_t size,
                                  const PatternList& chosen) {
  std::vector<Candidate> batch;
  for (const Candidate& c : candidates) {
    if (batch.size() == size) break;
    if (std::find(chosen.begin(), chosen.end(), c.text) != chosen.end()) continue;
    const bool nested = std::any_of(batch.begin(), batch.end(), [&](const Candidate& b) {
      return b.text.find(c.text) != std::string::npos || c.text.find(b.text) != std::string::npos;
    });
    if (!nested) batch.push_back(c);
  }
  return batch;
}

namespace {

// The code word's length and the count of each counted token.
using CountedTokens = std::unordered_map<std::string_view, std::pair<std::uint32_t, std::uint64_t>>;

CountedTokens counted_tokens(const TokenizedSample& s) {
  CountedTokens counted;
  for (std::size_t v = 0; v < s.rank.size(); ++v) {
    if (s.count[v] != 0)
      counted.emplace(token_text(s, static_cast<std::uint32_t>(v)), std::pair{s.code_size[v], s.count[v]});
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

// Polish rounds at most.
constexpr std::size_t polish_rounds = 10;

}  // namespace

PatternList suggest_patterns(const std::vector<std::string>& texts, const PatternList& valid, std::size_t n,
                             const std::function<void(std::size_t, std::uint64_t)>& progress) {
  PatternList chosen;
  TokenizedSample s = tokenize_sample(texts, valid, chosen);
  if (progress) progress(0, s.bits);
  // Takes the list `tried` when it lowers the cost.
  auto try_list = [&](const PatternList& tried) {
    TokenizedSample next = tokenize_sample(texts, valid, tried);
    if (next.bits >= s.bits) return false;
    chosen = tried;
    s = std::move(next);
    if (progress) progress(chosen.size(), s.bits);
    return true;
  };
  while (chosen.size() < n) {
    const std::vector<Candidate> candidates = find_candidates(s);
    // A batch that does not lower the cost is tried again as its best alone.
    std::size_t size = std::min(std::max<std::size_t>(5, chosen.size() / 10), n - chosen.size());
    bool added = false;
    while (!added) {
      const std::vector<Candidate> batch = pick_batch(candidates, size, chosen);
      if (batch.empty()) break;
      PatternList tried = chosen;
      for (const Candidate& c : batch) tried.push_back(c.text);
      added = try_list(tried);
      if (size == 1) break;
      size = 1;
    }
    if (!added) break;
  }
  // The polish: the weakest pattern out, the best candidate in.
  for (std::size_t round = 0; round < polish_rounds && !chosen.empty(); ++round) {
    const std::vector<Candidate> best = pick_batch(find_candidates(s), 1, chosen);
    if (best.empty()) break;
    const CountedTokens counted = counted_tokens(s);
    std::size_t weakest = 0;
    std::int64_t weakest_value = 0;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const std::int64_t value = value_of(counted, chosen[i]);
      if (i == 0 || value < weakest_value) {
        weakest = i;
        weakest_value = value;
      }
    }
    if (best.front().gain <= weakest_value) break;
    PatternList tried = chosen;
    tried.erase(tried.begin() + static_cast<std::ptrdiff_t>(weakest));
    tried.push_back(best.front().text);
    if (!try_list(tried)) break;
  }
  return chosen;
}

namespace {

// Keeps `target` lines taken evenly from a stream of unknown length, in one
// pass: every `stride`-th line is kept, and when twice the target are kept,
// every other one is dropped and the stride doubles. At the end the target
// is taken evenly from what is kept.
struct EvenSample {
  std::uint64_t target = 0;  // 0: every line
  std::uint64_t stride = 1;
  std::uint64_t seen = 0;
  std::vector<std::string> kept;
};

void offer(EvenSample& sample, std::string_view line) {
  if (sample.seen++ % sample.stride != 0) return;
  sample.kept.emplace_back(line);
  if (sample.target == 0 || sample.kept.size() < 2 * sample.target) return;
  // From 1: a string moved onto itself is left empty.
  for (std::size_t i = 1; 2 * i < sample.kept.size(); ++i) sample.kept[i] = std::move(sample.kept[2 * i]);
  sample.kept.resize((sample.kept.size() + 1) / 2);
  sample.stride *= 2;
}

std::vector<std::string> take(EvenSample& sample) {
  const std::size_t size = sample.kept.size();
  if (sample.target == 0 || size <= sample.target) return std::move(sample.kept);
  std::vector<std::string> taken;
  taken.reserve(sample.target);
  for (std::size_t i = 0; i < sample.target; ++i)
    taken.push_back(std::move(sample.kept[i * size / sample.target]));
  return taken;
}

std::string per_website(std::uint64_t bits, std::size_t websites) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f",
                websites == 0 ? 0.0 : static_cast<double>(bits) / static_cast<double>(websites));
  return text;
}

// Whether `name` is the file that standard output writes.
bool is_standard_output(const char* name) {
  struct stat file {};
  struct stat out {};
  return ::stat(name, &file) == 0 && ::fstat(1, &out) == 0 && file.st_dev == out.st_dev &&
         file.st_ino == out.st_ino;
}

void write_standard_error(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

int run_suggest(std::size_t n, const std::vector<std::string>& files, std::uint64_t sample_lines,
                const std::string& output) {
  const std::vector<std::string> corpus = {corpus_file};
  const std::vector<std::string>& inputs = files.empty() ? corpus : files;
  // patterns_recurrent.txt is read only to compare with, before anything is
  // written: the output may replace it ("varicode suggest -o
  // patterns_recurrent.txt 100").
  std::vector<std::string> read = {valid_chars_file, start_file};
  for (const std::string& file : inputs) {
    if (file != "-") read.push_back(file);
  }
  if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end() && !check_standard_input()) {
    return exit_status();
  }
  check_standard_output(read);
  // An output that cannot be created ends the run before the learning.
  Output named = output.empty() ? memory_output() : create_output(output, read);
  if (named.failed) return exit_status();
  Output ignored = memory_output();
  const Definitions d = read_definition_files(ignored);
  if (input_unreadable()) return exit_status();
  const bool compare_current = ::access(recurrent_file, F_OK) == 0 && !is_standard_output(recurrent_file);
  const StartMatcher start = build_start_matcher(d.start);
  // The websites as they are tokenised: trimmed, without their start pattern.
  EvenSample sample;
  sample.target = sample_lines;
  for (const std::string& file : inputs) {
    LineReader reader = file == "-" ? standard_input_lines(file) : open_lines(file, true);
    std::string_view line;
    while (next_line(reader, line)) {
      line = trim_view(line);
      offer(sample, line.substr(start_pattern_length(start, line)));
    }
    close_lines(reader);
  }
  const std::uint64_t websites = sample.seen;
  const std::vector<std::string> texts = take(sample);
  std::uint64_t bytes = 0;
  for (const std::string& text : texts) bytes += text.size() + 1;
  if (bytes >= UINT32_MAX) {  // tokens are numbered in 32 bits
    report_problem("the sample is too large to learn from: take fewer lines with --sample");
    return exit_status();
  }
  // The status line: patterns chosen, and the cost so far in hundredths of
  // a bit per website.
  static std::atomic<std::uint64_t> centibits{0};
  start_progress([n](double) {
    const std::uint64_t cost = centibits.load();
    return "varicode suggest: " + std::to_string(progress_done.load()) + " of " + std::to_string(n) +
           " patterns, " + std::to_string(cost / 100) + "." + std::to_string(cost / 10 % 10) +
           std::to_string(cost % 10) + " bits per website";
  });
  auto progress = [&](std::size_t chosen, std::uint64_t bits) {
    progress_done.store(chosen);
    centibits.store(texts.empty() ? 0 : (bits * 100 + texts.size() / 2) / texts.size());
  };
  const PatternList suggested = suggest_patterns(texts, d.valid, n, progress);
  stop_progress();
  Output& out = output.empty() ? standard_output() : named;
  for (const std::string& pattern : suggested) {
    write_output(out, "<" + pattern + ">\n");
  }
  close_output(out);
  std::string summary =
      "sample: " + std::to_string(texts.size()) + " of " + std::to_string(websites) +
      " websites\nbits per website: " + per_website(tokenize_sample(texts, d.valid, {}).bits, texts.size()) +
      " with no recurrent patterns\n";
  if (compare_current) {
    summary +=
        "bits per website: " + per_website(tokenize_sample(texts, d.valid, d.recurrent).bits, texts.size()) +
        " with " + recurrent_file + " (" + std::to_string(d.recurrent.size()) + " patterns)\n";
  }
  summary +=
      "bits per website: " + per_website(tokenize_sample(texts, d.valid, suggested).bits, texts.size()) +
      " with the " + std::to_string(suggested.size()) + " patterns suggested\n";
  write_standard_error(summary);
  return exit_status();
}
