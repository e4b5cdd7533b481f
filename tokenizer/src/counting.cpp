// The counts the walks leave, and how they become token counts: every node
// counts how often it popped and how many lines ended on it; once, at the
// end, the deepest nodes first hand their counts to the tokens they pop.
#include "counting.h"

#include <algorithm>
#include <utility>

namespace {

// The parts a block is cut into for the walk `a` takes: one without a dense
// table, which has no walk side by side.
std::size_t counted_parts(const Automaton& a) {
  if (!has_table(a)) return 1;
  return a.line_start_row != 0 ? parts_side_by_side_in_table : parts_side_by_side;
}

// Makes the counters, all 0, unless they are made.
void make_counters(Automaton& a) {
  if (!a.pop_count.empty()) return;
  const std::size_t size = counted_parts(a) * counted_rows(a);
  a.pop_count.assign(size, 0);
  a.end_count.assign(size, 0);
}

}  // namespace

PartCounters part_counters(Automaton& a, std::size_t k, std::size_t parts) {
  return {a.pop_count.data() + k, a.end_count.data() + k, parts};
}

void add_part(RangeCount& range, const std::vector<InvalidByte>& held, std::uint64_t lines) {
  for (InvalidByte m : held) {
    m.line += range.lines;
    range.invalid_bytes.push_back(m);
  }
  range.lines += lines;
}

void fold_table_counts(Automaton& a) {
  a.unfolded_rounds = 0;
  if (a.line_start_row == 0) return;
  const std::size_t rows = a.short_table.size() >> a.row_shift;
  for (std::size_t v = 0; v < rows; ++v) {
    std::uint16_t* counts = &a.short_table[(v << a.row_shift) + table_counters_at];
    for (std::size_t k = 0; k < parts_side_by_side_in_table; ++k) {
      a.pop_count[v * parts_side_by_side_in_table + k] += take_table_counter(counts + 2 * k);
    }
  }
}

RangeCount count_range(Tokenizer& t, std::string_view block) {
  Automaton& a = *t.automaton;
  make_counters(a);
  return a.line_start_row != 0 ? count_lines_in_table(a, block) : count_lines_apart(a, block);
}

std::vector<std::pair<std::string, std::uint64_t>> take_token_counts(Tokenizer& t) {
  Automaton& a = *t.automaton;
  if (a.pop_count.empty()) return {};  // it never counted
  fold_table_counts(a);
  // Fold the parts' counters, stored row by row, into the first rows.
  const std::size_t rows = counted_rows(a);
  const std::size_t parts = a.pop_count.size() / rows;
  for (std::size_t v = 0; v < rows; ++v) {
    std::uint64_t pops = 0;
    std::uint64_t ends = 0;
    for (std::size_t k = 0; k < parts; ++k) {
      pops += std::exchange(a.pop_count[v * parts + k], 0);
      ends += std::exchange(a.end_count[v * parts + k], 0);
    }
    a.pop_count[v] = pops;
    a.end_count[v] = ends;
  }
  // Deepest first: every node hands its counts to shallower nodes only.
  std::vector<std::pair<std::string, std::uint64_t>> counts;
  for (auto v = static_cast<std::uint32_t>(a.parent.size()); v-- > 1;) {
    // A text that ended on v pops v, then ends on fail[v].
    a.pop_count[v] += a.end_count[v];
    a.end_count[a.fail[v]] += a.end_count[v];
    a.end_count[v] = 0;
    const std::uint64_t pops = a.pop_count[v];
    a.pop_count[v] = 0;
    if (pops == 0) continue;
    if (is_token(a, v)) {
      counts.emplace_back(text_of(a, v), pops);
    } else {
      a.pop_count[a.parent[v]] += pops;
      for (std::uint32_t i = a.extra_begin[v]; i < a.extra_begin[v + 1]; ++i) {
        a.pop_count[a.extra_pops[i]] += pops;
      }
    }
  }
  a.pop_count[0] = 0;
  a.end_count[0] = 0;
  // What the start row counted were the lines it began.
  std::fill(a.pop_count.begin() + static_cast<std::ptrdiff_t>(a.parent.size()),
            a.pop_count.begin() + static_cast<std::ptrdiff_t>(rows), 0);
  return counts;
}
