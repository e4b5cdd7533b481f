// The walk of one line of text, from wherever it stands to the end of the
// text, checking that bound at every byte. It serves where lines come one at
// a time: the tokens of a line (line_tokens.cpp), writing a line alone
// (writing.cpp), and the lines that counting finishes apart from the others
// (count_lines_apart.cpp). Blocks of many lines go faster side by side
// (side_by_side.h), with no bound to check.
//
// Through the dense table a step is one lookup. What the step does besides
// moving on is the caller's: `fast(v, entry)` sees every step that is not
// slow, with the node v it leaves; its entry has fail_bit when the step
// popped v once, and a caller that acts on pops may act without a branch on
// that bit (counting adds it; writing copies v's bytes and keeps them only
// when it is set). Slow steps go by the general rule (general_step.h).
#pragma once

#include <cstdint>

#include "automaton.h"
#include "general_step.h"

namespace line_walk {

// walk_line, and with `EveryStep` false walk_pops: a step that neither pops
// nor is slow then moves on to its entry as it stands, with no mask, which
// keeps the chain of lookups one operation shorter.
template <bool EveryStep, typename Fast, typename Pop, typename Invalid>
std::uint32_t walk(const Automaton& a, std::uint32_t node, const unsigned char* p,
                   const unsigned char* const end, Fast&& fast, Pop&& pop, Invalid&& invalid) {
  if (!walks_lines_apart(a)) {
    for (; p != end; ++p) node = step_by_failures(a, node, *p, pop, [&] { invalid(p); });
    return node;
  }
  const std::uint32_t* const table = a.table.data();
  const std::uint8_t* const byte_class = a.byte_class.data();
  const unsigned shift = a.row_shift;
  std::uint32_t row = node << shift;
  for (; p != end; ++p) {
    const std::uint32_t entry = table[row + byte_class[*p]];
    if constexpr (!EveryStep) {
      if ((entry & (fail_bit | slow_bit)) == 0) {
        row = entry;
        continue;
      }
    }
    if ((entry & slow_bit) != 0) [[unlikely]] {
      row = step_by_failures(a, row >> shift, *p, pop, [&] { invalid(p); }) << shift;
      continue;
    }
    fast(row >> shift, entry);
    row = entry & row_mask;
  }
  return row >> shift;
}

}  // namespace line_walk

// Walks [p, end) from `node` and returns the node it ends on; nothing of that
// node is popped yet. Calls fast(v, entry) for the fast steps, pop(v) for the
// pops of the slow ones, in text order, and invalid(at) for each invalid byte,
// at `at`, between the pops of the tokens before and after it. Tokenisers
// with line ends in the table, and those without a dense table, are walked by
// the general rule alone.
template <typename Fast, typename Pop, typename Invalid>
std::uint32_t walk_line(const Automaton& a, std::uint32_t node, const unsigned char* p,
                        const unsigned char* const end, Fast&& fast, Pop&& pop, Invalid&& invalid) {
  return line_walk::walk<true>(a, node, p, end, fast, pop, invalid);
}

// walk_line for a caller that acts on pops alone: pop(v) for every pop, fast
// or slow.
template <typename Pop, typename Invalid>
std::uint32_t walk_pops(const Automaton& a, std::uint32_t node, const unsigned char* p,
                        const unsigned char* const end, Pop&& pop, Invalid&& invalid) {
  return line_walk::walk<false>(
      a, node, p, end, [&](std::uint32_t v, std::uint32_t /*entry*/) { pop(v); }, pop, invalid);
}
