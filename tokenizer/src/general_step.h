// The general rule of a step, which every walk falls back on: from node v on
// a byte, while v has no child on it, v pops its tokens and the walk goes on
// from fail[v]; at the root, where only an invalid byte has no child, the
// byte is skipped. It is the whole walk when there is no dense table (the
// sparse walk, over the sibling lists), and otherwise takes the steps the
// table marks slow: several pops at once, a line's end, an invalid byte.
//
// A pop is noted as the node that made it. What it stands for, the greedy
// tokens of the node's text, comes out of for_each_popped_token when a walk
// needs them one by one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "automaton.h"

// Calls `token(t_node)` for each token that popping node `v` gives, in order:
// a token node gives itself; any other node what its parent gives, then what
// each node of its extra pops gives. The nodes of a long pattern stand
// millions deep, too deep to recurse into the parents: the nodes still to
// expand are kept on a stack of our own, on the heap past its first 64.
template <typename Token>
void for_each_popped_token(const Automaton& a, std::uint32_t v, Token&& token) {
  if (is_token(a, v)) {
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
    if (is_token(a, node)) {
      token(node);
      continue;
    }
    // The parent's tokens come first: it goes on the stack last.
    for (std::uint32_t i = a.extra_begin[node + 1]; i-- > a.extra_begin[node];) push(a.extra_pops[i]);
    push(a.parent[node]);
  }
}

// One step from `node` on `byte` by the general rule: pops node after node
// until one has a child on the byte, and returns that child. At the root,
// where only an invalid byte has none, calls `invalid()` and stays there.
template <typename Pop, typename Invalid>
std::uint32_t step_by_failures(const Automaton& a, std::uint32_t node, unsigned char byte, Pop&& pop,
                               Invalid&& invalid) {
  for (;;) {
    const std::uint32_t next = child_of(a, node, byte);
    if (next != no_node) return next;
    if (node == 0) {
      invalid();
      return 0;
    }
    pop(node);
    node = a.fail[node];
  }
}

// The end of a text pops what is left, failure by failure, down to the root.
template <typename Pop>
__attribute__((always_inline)) inline void pop_to_root(const Automaton& a, std::uint32_t node, Pop&& pop) {
  for (; node != 0; node = a.fail[node]) pop(node);
}
