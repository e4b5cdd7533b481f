// Walking the parts of a block side by side, over lines cut first: the walk
// that both counting (count_lines_apart.cpp) and writing (writing.cpp) take
// through the dense table without line ends.
//
// The steps of one line wait on each other's table lookups; those of
// different lines do not. So a block is cut after line feeds into up to four
// parts of about equal size, and the loop takes one byte of each part in
// turn, which lets the processor overlap their lookups. Each walk lives in
// registers: its node's row, its next byte, and whatever its fast step moves
// on (where writing writes); the rare steps go through its part in memory.
//
// The loop never checks where a line ends. A line is walked side by side
// only when the byte after its text is invalid, as a line feed always is: the
// step on that byte is slow, and the slow step ends the line and begins the
// next. What the fast step does (count a pop, copy a node's bytes) and what
// the slow step does are the caller's, given as a Walk:
//
//   struct Walk {
//     using Part = ...;  // with members row, next_byte and out
//     using Out = ...;   // what the fast step moves on (an empty struct: nothing)
//     const Automaton& automaton;
//     // The fast step, copied into registers for the loop: from `row` on
//     // `entry`, which is not slow, for walk i.
//     struct { template <unsigned Shift> void step(std::size_t i, std::size_t row,
//                                                   std::uint32_t entry, Out& out) const; } fast;
//     // The slow step on part.next_byte[-1]; false when the walks must stop.
//     bool slow(Part& part);
//     // Whether `part` may be walked side by side.
//     bool can_go_on(const Part& part) const;
//   };
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "automaton.h"

// Walks the `N` parts side by side, one byte of each in turn, until a slow
// step says to stop. `Shift` is the table's row_shift, fixed so that the fast
// steps find a node's entries with one shift. A function of its own, so that
// the walks stay in registers: inlined into its callers, which have more to
// keep, they were spilled to the stack.
template <unsigned Shift, std::size_t N, typename Walk>
__attribute__((noinline)) void walk_side_by_side(Walk& walk,
                                                 const std::array<typename Walk::Part*, N>& parts) {
  static_assert(N >= 1 && N <= parts_side_by_side && parts_side_by_side == 4);
  using Out = typename Walk::Out;
  const std::uint32_t* const table = walk.automaton.table.data();
  const std::uint8_t* const byte_class = walk.automaton.byte_class.data();
  const auto fast = walk.fast;
  // One step of walk i; false when the walks must stop. The walks' state is
  // passed as separate scalars, which the compiler keeps in registers.
  auto step_one = [&](std::size_t i, std::size_t & row, const unsigned char*& next, Out& out)
      __attribute__((always_inline)) {
    const std::uint32_t entry = table[row + byte_class[*next++]];
    if ((entry & slow_bit) == 0) [[likely]] {
      fast.template step<Shift>(i, row, entry, out);
      row = entry & row_mask;
      return true;
    }
    typename Walk::Part& part = *parts[i];
    part.row = static_cast<std::uint32_t>(row), part.next_byte = next, part.out = out;
    const bool going = walk.slow(part);
    row = part.row, next = part.next_byte, out = part.out;
    return going;
  };
  std::size_t row0 = parts[0]->row, row1 = 0, row2 = 0, row3 = 0;
  const unsigned char *next0 = parts[0]->next_byte, *next1 = nullptr, *next2 = nullptr, *next3 = nullptr;
  Out out0 = parts[0]->out, out1{}, out2{}, out3{};
  if constexpr (N > 1) row1 = parts[1]->row, next1 = parts[1]->next_byte, out1 = parts[1]->out;
  if constexpr (N > 2) row2 = parts[2]->row, next2 = parts[2]->next_byte, out2 = parts[2]->out;
  if constexpr (N > 3) row3 = parts[3]->row, next3 = parts[3]->next_byte, out3 = parts[3]->out;
  for (;;) {
    if (!step_one(0, row0, next0, out0)) break;
    if constexpr (N > 1)
      if (!step_one(1, row1, next1, out1)) break;
    if constexpr (N > 2)
      if (!step_one(2, row2, next2, out2)) break;
    if constexpr (N > 3)
      if (!step_one(3, row3, next3, out3)) break;
  }
  parts[0]->row = static_cast<std::uint32_t>(row0), parts[0]->next_byte = next0, parts[0]->out = out0;
  if constexpr (N > 1)
    parts[1]->row = static_cast<std::uint32_t>(row1), parts[1]->next_byte = next1, parts[1]->out = out1;
  if constexpr (N > 2)
    parts[2]->row = static_cast<std::uint32_t>(row2), parts[2]->next_byte = next2, parts[2]->out = out2;
  if constexpr (N > 3)
    parts[3]->row = static_cast<std::uint32_t>(row3), parts[3]->next_byte = next3, parts[3]->out = out3;
}

// walk_side_by_side for the first `count` (1 to 4) of `active`.
template <unsigned Shift, typename Walk>
void walk_first_side_by_side(Walk& walk, const std::array<typename Walk::Part*, parts_side_by_side>& active,
                             std::size_t count) {
  switch (count) {
    case 4:
      walk_side_by_side<Shift, 4>(walk, {active[0], active[1], active[2], active[3]});
      break;
    case 3:
      walk_side_by_side<Shift, 3>(walk, {active[0], active[1], active[2]});
      break;
    case 2:
      walk_side_by_side<Shift, 2>(walk, {active[0], active[1]});
      break;
    default:
      walk_side_by_side<Shift, 1>(walk, {active[0]});
      break;
  }
}

// Walks those of `parts` that can go on side by side, fewer as they stop,
// until none can. The table's rows are 64 to 256 entries wide.
template <typename Walk, std::size_t Parts>
void walk_parts_side_by_side(Walk& walk, std::array<typename Walk::Part, Parts>& parts) {
  static_assert(Parts <= parts_side_by_side);
  std::array<typename Walk::Part*, parts_side_by_side> active{};
  std::size_t count = 0;
  for (typename Walk::Part& part : parts) {
    if (walk.can_go_on(part)) active[count++] = &part;
  }
  while (count != 0) {
    switch (walk.automaton.row_shift) {
      case 6:
        walk_first_side_by_side<6>(walk, active, count);
        break;
      case 7:
        walk_first_side_by_side<7>(walk, active, count);
        break;
      default:
        walk_first_side_by_side<8>(walk, active, count);
        break;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (walk.can_go_on(*active[i])) active[kept++] = active[i];
    }
    count = kept;
  }
}
