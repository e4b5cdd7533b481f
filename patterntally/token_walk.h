// The tokens of one line in order, for programs that need the sequence and
// not only the counts (varicode). The same automaton as the counting walks:
// greedy, longest recurrent pattern first, an invalid byte skipped.
//
// The walk reports pops, as the automaton makes them: when node v cannot go
// on, the greedy tokens of its text leave at once. A caller that keeps what
// each node pops (its code words, say) writes it in one go; one that does not
// expands a pop with for_each_popped_token.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tokenizer.h"

// Calls `token(t_node)` for each token that popping node `v` gives, in order:
// a token node gives itself; any other node what its parent gives, then what
// each node of its extra pops gives. The nodes of a long pattern stand
// millions deep, too deep to recurse into the parents: the nodes still to
// expand are kept on a stack of our own, on the heap past its first 64.
template <typename Token>
void for_each_popped_token(const Tokenizer& t, std::uint32_t v, Token&& token) {
  if (t.is_token[v]) {
    token(v);
    return;
  }
  std::array<std::uint32_t, 64> near;
  std::vector<std::uint32_t> far;  // the stack's entries from near.size() on
  std::size_t size = 0;
  auto push = [&](std::uint32_t node) {
    if (size < near.size()) {
      near[size] = node;
    } else {
      far.push_back(node);
    }
    ++size;
  };
  push(v);
  while (size != 0) {
    --size;
    std::uint32_t node = 0;
    if (size < near.size()) {
      node = near[size];
    } else {
      node = far.back();
      far.pop_back();
    }
    if (t.is_token[node]) {
      token(node);
      continue;
    }
    // The parent's tokens come first: it goes on the stack last.
    for (std::uint32_t i = t.extra_begin[node + 1]; i-- > t.extra_begin[node];) push(t.extra_pops[i]);
    push(t.parent[node]);
  }
}

// One step of the walk below from `node` on `byte` by the general rule: pops
// node after node until one has a child on the byte, and returns that child.
// At the root, where only an invalid byte has none, calls `invalid()` and
// stays there.
template <typename Pop, typename Invalid>
std::uint32_t step_by_failures(const Tokenizer& t, std::uint32_t node, unsigned char byte, Pop&& pop,
                               Invalid&& invalid) {
  for (;;) {
    const std::uint32_t next = child_of(t, node, byte);
    if (next != no_node) return next;
    if (node == 0) {
      invalid();
      return 0;
    }
    pop(node);
    node = t.fail[node];
  }
}

// Walks `text`, a line already trimmed and without its start pattern: calls
// `pop(v)` each time node v pops, in text order, and `invalid(offset)` for
// each invalid byte, at its offset in `text`, between the pops of the tokens
// before and after it. The dense table is used when it is one of lines cut
// first; any other tokeniser is walked through child_of.
template <typename Pop, typename Invalid>
void walk_tokens(const Tokenizer& t, std::string_view text, Pop&& pop, Invalid&& invalid) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = begin + text.size();
  auto step_slowly = [&](std::uint32_t node, const unsigned char* p) {
    return step_by_failures(t, node, *p, pop, [&] { invalid(static_cast<std::size_t>(p - begin)); });
  };
  std::uint32_t node = 0;
  if (!t.table.empty() && t.line_start_row == 0) {
    const std::uint32_t* const table = t.table.data();
    const unsigned shift = t.row_shift;
    std::uint32_t row = 0;
    for (const unsigned char* p = begin; p != end; ++p) {
      const std::uint32_t entry = table[row + t.byte_class[*p]];
      if ((entry & (fail_bit | slow_bit)) == 0) {
        row = entry;
      } else if ((entry & slow_bit) == 0) {
        pop(row >> shift);
        row = entry & row_mask;
      } else {
        row = step_slowly(row >> shift, p) << shift;
      }
    }
    node = row >> shift;
  } else {
    for (const unsigned char* p = begin; p != end; ++p) node = step_slowly(node, p);
  }
  // The end of the text pops what is left, failure by failure.
  for (; node != 0; node = t.fail[node]) pop(node);
}
