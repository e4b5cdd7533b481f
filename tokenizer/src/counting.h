// Counting a range of whole lines, as its two walks share it: the block is
// cut after line feeds into parts, the parts are walked side by side, each
// holding back the messages of its invalid bytes with line numbers of its
// own, and then, in order, each part's lines and messages follow those of
// the parts before it. A walk notes only which node popped, in counters per
// node and part; take_token_counts turns them into token counts once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "automaton.h"
#include "general_step.h"
#include "tokenizer.h"

// Where a part counts: row v's counters at [v * stride].
struct PartCounters {
  std::uint64_t* pops = nullptr;
  std::uint64_t* ends = nullptr;
  std::size_t stride = 1;
};

// The counters of part `k` of `parts`, which are made when the tokeniser
// first counts (see make_counters).
PartCounters part_counters(Automaton& a, std::size_t k, std::size_t parts);

// Messages of a part held back at most this many before the walk falls back
// to one part at a time.
inline constexpr std::size_t held_message_limit = 4096;

// Adds the `lines` of a part and its messages, numbered within the part, to
// `range`, after the lines of the parts before it.
void add_part(RangeCount& range, const std::vector<InvalidByte>& held, std::uint64_t lines);

// The general step while counting: each pop counted in `c`; at an invalid
// byte, `invalid()` reports it.
template <typename Invalid>
std::uint32_t count_slow_step(const Automaton& a, const PartCounters& c, std::uint32_t node,
                              unsigned char byte, Invalid&& invalid) {
  return step_by_failures(
      a, node, byte, [&](std::uint32_t v) { ++c.pops[v * c.stride]; }, invalid);
}

// A counter of the short table, the two entries at `at`, read and set to 0.
inline std::uint32_t take_table_counter(std::uint16_t* at) {
  std::uint32_t count = 0;
  std::memcpy(&count, at, sizeof count);
  const std::uint32_t zero = 0;
  std::memcpy(at, &zero, sizeof zero);
  return count;
}

// Moves the counts kept in the table to pop_count.
void fold_table_counts(Automaton& a);

// The two walks of count_range: over lines cut first, through the dense
// table side by side or by the general rule (count_lines_apart.cpp); with
// line ends in the table (count_lines_in_table.cpp).
RangeCount count_lines_apart(Automaton& a, std::string_view block);
RangeCount count_lines_in_table(Automaton& a, std::string_view block);
