// Microbenchmarks of bitladder's per-line work: the next code word, and the
// repeat test of insert_line on distinct lines (each one new) and on lines
// already in the set (each one found).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_input.h"
#include "bitladder.h"
#include "code_words.h"

namespace {

void next_code_bench(benchmark::State& state) {
  std::string code;
  for (auto _ : state) {
    next_code(code);
    benchmark::DoNotOptimize(code.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["last_length"] = static_cast<double>(code.size());
}

// A fresh set per iteration, filled with range(0) distinct lines: every
// insert stores a line and the table grows as it does in a run.
void insert_distinct_bench(benchmark::State& state) {
  const LineBuffer lines = ranked_lines(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    LineSet set;
    for (std::string_view line : lines.lines) benchmark::DoNotOptimize(insert_line(set, line));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.lines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines.line_bytes));
}

// Every line is already in the set: a hash, a probe and a comparison each.
void insert_repeat_bench(benchmark::State& state) {
  const LineBuffer lines = ranked_lines(static_cast<std::size_t>(state.range(0)));
  LineSet set;
  for (std::string_view line : lines.lines) insert_line(set, line);
  for (auto _ : state) {
    for (std::string_view line : lines.lines) benchmark::DoNotOptimize(insert_line(set, line));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.lines.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines.line_bytes));
}

}  // namespace

BENCHMARK(next_code_bench);
BENCHMARK(insert_distinct_bench)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(insert_repeat_bench)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
