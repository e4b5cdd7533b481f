// Microbenchmarks of patterntally's hot loop: the tokeniser over lines held
// in memory, for the example definitions, a large set of 5,000 patterns drawn
// from corpus fragments and the adversarial set on runs of 'a', and the
// start-pattern match alone and under 2,000 nested start patterns.
//
// The lines go through count_corpus from a LineReader on a memory stream, so
// the run is the program's own path, block by block, without the kernel's
// reads. For the "tokens" benchmarks the lines are trimmed and stripped of
// their start patterns beforehand and no start patterns are given, which
// leaves the tokeniser's walk almost alone; the "lines" benchmarks start from
// the lines as read. Bytes/s count the bytes of the lines handed in.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_input.h"
#include "line_reader.h"
#include "output.h"
#include "patterntally.h"
#include "start_patterns.h"
#include "tokenizer.h"
#include "trim.h"

namespace {

// A reader that serves `text` from a memory stream; rewind() serves it again.
struct MemoryCorpus {
  std::string bytes;
  LineReader reader;
  explicit MemoryCorpus(const LineBuffer& text) : bytes(text.bytes) {
    reader.name = "websites.txt";
    reader.file = fmemopen(bytes.data(), bytes.size(), "rb");
    if (reader.file == nullptr) std::abort();
    // Unlike a file, a memory stream is left buffered: unbuffered, glibc
    // serves it one byte at a time.
    std::setvbuf(reader.file, nullptr, _IOFBF, line_block_size);
  }
  MemoryCorpus(const MemoryCorpus&) = delete;
  MemoryCorpus& operator=(const MemoryCorpus&) = delete;
  ~MemoryCorpus() { close_lines(reader); }
  LineReader& rewind() {
    std::rewind(reader.file);
    reader.begin = 0;
    reader.end = 0;
    reader.at_end = false;
    return reader;
  }
};

void report_tokenizer(benchmark::State& state, const Tokenizer& t, const DefinitionSet& set) {
  state.counters["patterns"] = static_cast<double>(set.recurrent.size());
  const TokenizerSize size = size_of(t);
  state.counters["nodes"] = static_cast<double>(size.nodes);
  state.counters["table_MiB"] = static_cast<double>(size.table_bytes) / (1 << 20);
}

// Runs count_corpus over `text` once per iteration.
void run_count_corpus(benchmark::State& state, const DefinitionSet& set, const LineBuffer& text,
                      const PatternList& start_patterns, TokenizerWalk walk) {
  MemoryCorpus corpus(text);
  Tokenizer t = build_tokenizer(set.valid, set.recurrent, start_patterns, walk);
  Output messages = create_output("/dev/null");  // invalid bytes are reported
  std::uint64_t lines = 0;
  for (auto _ : state) {
    lines = count_corpus(corpus.rewind(), t, messages);
    benchmark::DoNotOptimize(lines);
    benchmark::ClobberMemory();
  }
  if (lines != text.lines.size()) state.SkipWithError("count_corpus did not see every line");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.line_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * text.lines.size()));
  report_tokenizer(state, t, set);
  benchmark::DoNotOptimize(take_token_counts(t));
  close_output(messages);
}

// The tokeniser's walk: lines already trimmed and without start patterns.
void tokens_bench(benchmark::State& state, const std::string& set_name, TokenizerWalk walk) {
  const DefinitionSet& set = definition_set(set_name);
  if (set_name == "adversarial") {
    run_count_corpus(state, set, adversarial_lines(), {}, walk);
  } else {
    run_count_corpus(state, set, tokenizer_view(corpus_lines(), set), {}, walk);
  }
}

// The whole work of count_corpus on each line as read: trim, start pattern,
// tokens.
void lines_bench(benchmark::State& state, const std::string& set_name) {
  const DefinitionSet& set = definition_set(set_name);
  run_count_corpus(state, set, corpus_lines(), set.start, TokenizerWalk::lines_in_table);
}

void build_tokenizer_bench(benchmark::State& state, const std::string& set_name) {
  const DefinitionSet& set = definition_set(set_name);
  for (auto _ : state) benchmark::DoNotOptimize(build_tokenizer(set.valid, set.recurrent, set.start));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * set.recurrent.size()));
}

// The start-pattern match of every trimmed line.
void start_pattern_bench(benchmark::State& state, const std::string& set_name) {
  const StartMatcher start = build_start_matcher(definition_set(set_name).start);
  LineBuffer trimmed;
  for (std::string_view line : corpus_lines().lines) {
    trimmed.lines.push_back(trim_view(line));
    trimmed.line_bytes += trimmed.lines.back().size();
  }
  std::size_t skipped = 0;
  for (auto _ : state) {
    for (std::string_view line : trimmed.lines) skipped += start_pattern_length(start, line);
    benchmark::DoNotOptimize(skipped);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * trimmed.line_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * trimmed.lines.size()));
}

// 1,000,000 lines "ac" through count_corpus with state.range(0) nested start
// patterns "ab", "abb", "abbb", ...: none of them matches, and all begin with
// the line's first byte. With one or more, every line leaves the table for the
// start-pattern match; from one to 2,000, the time should stay the same.
void nested_start_bench(benchmark::State& state) {
  static const LineBuffer text = [] {
    LineBuffer lines;
    constexpr std::size_t count = 1000000;
    for (std::size_t i = 0; i < count; ++i) lines.bytes += "ac\n";
    for (std::size_t i = 0; i < count; ++i) lines.lines.emplace_back(lines.bytes.data() + 3 * i, 2);
    lines.line_bytes = 2 * count;
    return lines;
  }();
  DefinitionSet set;
  set.valid = {"a", "b", "c"};
  std::string pattern = "a";
  for (std::int64_t i = 0; i < state.range(0); ++i) set.start.push_back(pattern += 'b');
  run_count_corpus(state, set, text, set.start, TokenizerWalk::lines_in_table);
}

void trim_bench(benchmark::State& state) {
  const LineBuffer& raw = corpus_lines();
  std::size_t kept = 0;
  for (auto _ : state) {
    for (std::string_view line : raw.lines) kept += trim_view(line).size();
    benchmark::DoNotOptimize(kept);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * raw.line_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * raw.lines.size()));
}

// The line reader alone over the same lines: the floor of the "lines" runs.
void next_line_bench(benchmark::State& state) {
  MemoryCorpus corpus(corpus_lines());
  std::size_t bytes = 0;
  for (auto _ : state) {
    LineReader& reader = corpus.rewind();
    std::string_view line;
    while (next_line(reader, line)) bytes += line.size();
    benchmark::DoNotOptimize(bytes);
  }
  const LineBuffer& lines = corpus_lines();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines.line_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.lines.size()));
}

constexpr auto ms = benchmark::kMillisecond;

}  // namespace

constexpr auto in_table = TokenizerWalk::lines_in_table;
BENCHMARK_CAPTURE(tokens_bench, example, std::string("example"), in_table)->Unit(ms);
BENCHMARK_CAPTURE(tokens_bench, large, std::string("large"), in_table)->Unit(ms);
BENCHMARK_CAPTURE(tokens_bench, adversarial, std::string("adversarial"), in_table)->Unit(ms);
BENCHMARK_CAPTURE(tokens_bench, large_lines_apart, std::string("large"), TokenizerWalk::dense)->Unit(ms);
BENCHMARK_CAPTURE(tokens_bench, large_sparse, std::string("large"), TokenizerWalk::sparse)->Unit(ms);
BENCHMARK_CAPTURE(tokens_bench, adversarial_sparse, std::string("adversarial"), TokenizerWalk::sparse)
    ->Unit(ms);
BENCHMARK_CAPTURE(lines_bench, example, std::string("example"))->Unit(ms);
BENCHMARK_CAPTURE(lines_bench, large, std::string("large"))->Unit(ms);
BENCHMARK(next_line_bench)->Unit(ms);
BENCHMARK(trim_bench)->Unit(ms);
BENCHMARK(nested_start_bench)->Arg(0)->Arg(1)->Arg(2000)->Unit(ms);
BENCHMARK_CAPTURE(start_pattern_bench, example, std::string("example"))->Unit(ms);
BENCHMARK_CAPTURE(build_tokenizer_bench, example, std::string("example"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(build_tokenizer_bench, large, std::string("large"))->Unit(ms);
