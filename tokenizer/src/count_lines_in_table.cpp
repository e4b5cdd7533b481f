// Counting with the line ends in the table: the fastest walk, where no blank
// is valid and no start pattern holds one. The walk never looks for a line's
// end. A line feed is one more step through the table, to the row of a
// line's start, and the line-start rows read the start pattern away; a
// carriage return before the line feed, the trailing blanks and the rare
// line whose start the rows cannot follow take a slow step that looks at the
// bytes around. So a part is one run of bytes, and eight parts go side by
// side, each counting the single pops of its fast steps in its own column of
// the table, next to the entries it reads; the steps that begin a line count
// there too, so that no line feed is looked for to count the lines. A line's
// bounds are looked for only to quote it in the message of an invalid byte.
#include <algorithm>
#include <cstring>

#include "counting.h"
#include "start_patterns.h"
#include "trim.h"

namespace {

constexpr std::size_t no_column = parts_side_by_side_in_table;

// One part of a block, walked as one run of bytes.
struct TablePart {
  std::uint32_t row = 0;  // the walk's node, as a row offset
  const unsigned char* next_byte = nullptr;
  const char* next_line = nullptr;  // where the next line starts, once a slow step found it
  const char* part_end = nullptr;
  // The line found last, for the messages: where it starts and ends, and
  // its number in the part.
  const char* line_start = nullptr;
  const char* line_end = nullptr;
  std::string_view trimmed_line;
  std::uint64_t line = 0;
  // The lines whose first byte the walk has read; while the part is walked
  // side by side, also those counted since in its column of the table, which
  // held `column_count` when the walk began.
  std::uint64_t lines_begun = 0;
  std::size_t column = no_column;
  std::uint64_t column_count = 0;
  PartCounters counters;
  std::vector<InvalidByte> held;  // lines numbered within the part
};

// The lines begun in fast steps by the walk in column `i` of the table so
// far: the start row's counter in that column, and what was folded of it.
std::uint64_t lines_begun_in_column(const Automaton& a, std::size_t i) {
  const std::size_t start = a.line_start_row >> a.row_shift;
  std::uint32_t in_table = 0;
  std::memcpy(&in_table, &a.short_table[a.line_start_row + table_counters_at + 2 * i], sizeof in_table);
  return a.pop_count[start * parts_side_by_side_in_table + i] + in_table;
}

// The lines the walk of `s` has begun so far.
std::uint64_t lines_begun(const Automaton& a, const TablePart& s) {
  if (s.column == no_column) return s.lines_begun;
  return s.lines_begun + (lines_begun_in_column(a, s.column) - s.column_count);
}

// A byte that trimming removes, other than the line feed that ends the line.
bool is_trimmed_blank(char c) { return c != '\n' && blank_bytes.find(c) != std::string_view::npos; }

// The line of an invalid byte, which the walk is in, is found as seldom as
// bytes are invalid: its number is the count of lines begun, its start is
// found backwards and its end forwards.
void find_line_of(const Automaton& a, TablePart& s, const char* at) {
  if (s.line_end != nullptr) {
    if (at < s.line_end) return;
    s.line_start = s.line_end + 1;
  }
  const char* start = at;
  while (start != s.line_start && start[-1] != '\n') --start;
  s.line = lines_begun(a, s);
  s.line_start = start;
  const auto rest = static_cast<std::size_t>(s.part_end - at);
  const char* lf = static_cast<const char*>(std::memchr(at, '\n', rest));
  s.line_end = lf != nullptr ? lf : s.part_end;
  s.trimmed_line =
      trim_view(std::string_view(s.line_start, static_cast<std::size_t>(s.line_end - s.line_start)));
}

// Reports `byte`, just before s.next_byte.
void report_invalid_byte(const Automaton& a, TablePart& s, unsigned char byte) {
  find_line_of(a, s, reinterpret_cast<const char*>(s.next_byte - 1));
  s.held.push_back({s.line, byte, s.trimmed_line});
}

// Whether the walk, meeting an invalid byte at `at`, has met the end of its
// line: only blanks follow up to the line feed or the end of the part. If
// so, notes where the next line starts.
bool meets_line_end(TablePart& s, const unsigned char* at) {
  const char* p = reinterpret_cast<const char*>(at);
  while (p != s.part_end && is_trimmed_blank(*p)) ++p;
  if (p != s.part_end && *p != '\n') return false;
  s.next_line = p == s.part_end ? p : p + 1;
  return true;
}

// The walk goes on at the start of the line at s.next_line.
void go_to_next_line(const Automaton& a, TablePart& s) {
  s.row = a.line_start_row;
  s.next_byte = reinterpret_cast<const unsigned char*>(s.next_line);
}

// The line that begins at `at` read by the general code, its leading blanks
// skipped and its start pattern removed, or ended when it is blank.
void restart_line(const Automaton& a, TablePart& s, const unsigned char* at) {
  if (meets_line_end(s, at)) return go_to_next_line(a, s);
  const char* p = reinterpret_cast<const char*>(at);
  while (is_trimmed_blank(*p)) ++p;  // up to a byte that is not blank
  const std::string_view rest(p, static_cast<std::size_t>(s.part_end - p));
  s.next_byte = reinterpret_cast<const unsigned char*>(p) + start_pattern_length(a.start, rest);
  s.row = 0;
}

// The slow step on the byte before s.next_byte. A line-start row reads its
// line's start again; a line feed ends the line on a node that pops more
// than once; an invalid byte that only blanks follow up to the line feed ends
// the line too. False when the walk did not move by just that byte.
bool step_slowly(const Automaton& a, TablePart& s) {
  const unsigned char* at = s.next_byte - 1;
  const unsigned char byte = *at;
  const std::uint32_t node = s.row >> a.row_shift;
  if (s.row == a.carriage_return_row) {
    // The carriage return before `at` ended the line unless other bytes
    // follow it; then it was an invalid byte at the root.
    if (meets_line_end(s, at - 1)) {
      go_to_next_line(a, s);
      return false;
    }
    s.next_byte = at;
    report_invalid_byte(a, s, '\r');
    s.row = 0;
    return false;  // `at` is read again, from the root
  }
  if (s.row >= a.line_start_row) {
    if (s.row == a.line_start_row) ++s.lines_begun;
    restart_line(a, s, at - a.line_start_depth[node - a.parent.size()]);
    return false;
  }
  if (byte == '\n') {
    ++s.counters.ends[node * s.counters.stride];
    s.row = a.line_start_row;
    return true;
  }
  if (a.root_child[byte] == no_node && meets_line_end(s, at)) {
    ++s.counters.ends[node * s.counters.stride];
    go_to_next_line(a, s);
    return false;
  }
  s.row = count_slow_step(a, s.counters, node, byte, [&] { report_invalid_byte(a, s, byte); }) << a.row_shift;
  return true;
}

// The rest of part `s` alone, then the end of its part, where a last line
// without a line feed ends.
void finish_alone(const Automaton& a, TablePart& s) {
  const auto* end = reinterpret_cast<const unsigned char*>(s.part_end);
  for (;;) {
    while (s.next_byte != end) {
      const unsigned char byte = *s.next_byte++;
      const std::uint16_t entry = a.short_table[s.row + a.byte_class[byte]];
      if (entry != short_slow) {
        if (s.row == a.line_start_row) {
          ++s.lines_begun;
        } else {
          s.counters.pops[(s.row >> a.row_shift) * s.counters.stride] += entry >> 15;
        }
        s.row = static_cast<std::uint32_t>(entry & ~short_fail_bit) << a.row_shift;
      } else {
        step_slowly(a, s);
      }
    }
    const std::uint32_t node = s.row >> a.row_shift;
    if (s.row < a.line_start_row) {
      if (node != 0) ++s.counters.ends[node * s.counters.stride];
      break;
    }
    const std::uint32_t depth = a.line_start_depth[node - a.parent.size()];
    if (depth == 0) break;
    restart_line(a, s, end - depth);
  }
}

// The table's counters are folded into pop_count at least this often, in
// rounds of the side-by-side walk.
constexpr std::size_t fold_every = std::size_t{1} << 30;

// Walks the `N` parts side by side, one byte of each in turn. No line needs
// a guard, so the walks go on until one of them reaches the end of its part,
// which none passes while each takes one byte a round; after a step that
// moves otherwise, the rounds left are counted again. A walk that holds back
// too many messages stops them all. This is the hot loop of counting, and
// stays one function so that the rows and byte pointers of all N walks stay
// in registers across it.
template <unsigned Shift, std::size_t N>
void walk_side_by_side(Automaton& a, const std::array<TablePart*, N>& parts) {
  static_assert(N >= 1 && N <= parts_side_by_side_in_table);
  std::uint16_t* const table = a.short_table.data();
  const std::uint8_t* const byte_class = a.byte_class.data();
  std::array<std::size_t, N> row;
  std::array<const unsigned char*, N> next;
  for (std::size_t i = 0; i < N; ++i) row[i] = parts[i]->row, next[i] = parts[i]->next_byte;
  // One step of walk i on the byte at `at`; false when the walk moved
  // otherwise than to the next byte, to s.next_byte, or holds back as many
  // messages as it may.
  auto step_one = [&](std::size_t i, const unsigned char* at) __attribute__((always_inline)) {
    const std::uint32_t entry = table[row[i] + byte_class[*at]];
    // A fast step adds its pop, the entry's top bit, to the row it leaves;
    // shifted, with that bit masked off, the entry is the next row. Tested
    // first, the slow entry leaves the entry itself for the rest.
    if (entry != short_slow) [[likely]] {
      std::uint16_t* const counter = table + row[i] + table_counters_at + 2 * i;
      std::uint32_t count = 0;
      std::memcpy(&count, counter, sizeof count);
      count += entry >> 15;
      std::memcpy(counter, &count, sizeof count);
      row[i] = (std::size_t{entry} << Shift) & (std::size_t{short_slow} << Shift);
      return true;
    }
    TablePart& s = *parts[i];
    s.row = static_cast<std::uint32_t>(row[i]);
    s.next_byte = at + 1;
    const bool one_byte = step_slowly(a, s);
    row[i] = s.row;
    return one_byte && s.held.size() < held_message_limit;
  };
  for (;;) {
    std::size_t rounds = fold_every;
    for (std::size_t i = 0; i < N; ++i) {
      rounds = std::min(
          rounds, static_cast<std::size_t>(parts[i]->part_end - reinterpret_cast<const char*>(next[i])));
    }
    if (rounds == 0) break;
    // No counter in the table may pass 2^32 - 1: each walk adds at most one
    // a round.
    if (a.unfolded_rounds + rounds > fold_every) fold_table_counts(a);
    a.unfolded_rounds += rounds;
    // Round k reads byte k of each walk from where the rounds began.
    unsigned moved = 0;  // bit i: walk i is at s.next_byte
    std::size_t k = 0;
    while (k != rounds) {
#pragma GCC unroll 8
      for (std::size_t i = 0; i < N; ++i) {
        if (!step_one(i, next[i] + k)) moved |= 1u << i;
      }
      ++k;
      if (moved != 0) break;
    }
    for (std::size_t i = 0; i < N; ++i) next[i] = (moved >> i & 1) != 0 ? parts[i]->next_byte : next[i] + k;
    if (moved != 0 && std::any_of(parts.begin(), parts.end(),
                                  [](const TablePart* s) { return s->held.size() >= held_message_limit; })) {
      break;
    }
  }
  for (std::size_t i = 0; i < N; ++i) {
    parts[i]->row = static_cast<std::uint32_t>(row[i]);
    parts[i]->next_byte = next[i];
  }
}

// walk_side_by_side for the first `count` (1 to N) of `active`.
template <unsigned Shift, std::size_t N>
void walk_first_side_by_side(Automaton& a, const std::array<TablePart*, parts_side_by_side_in_table>& active,
                             std::size_t count) {
  if constexpr (N > 1) {
    if (count < N) return walk_first_side_by_side<Shift, N - 1>(a, active, count);
  }
  std::array<TablePart*, N> first;
  std::copy_n(active.begin(), N, first.begin());
  walk_side_by_side<Shift, N>(a, first);
}

bool can_go_on(const TablePart& s) {
  return reinterpret_cast<const char*>(s.next_byte) != s.part_end && s.held.size() < held_message_limit;
}

// Walks the parts side by side, fewer as they stop, until all have stopped.
// A function of its own, so that the walks' rows stay in registers: inlined
// into its caller, which has more to keep, they were spilled to the stack.
__attribute__((noinline)) void walk_parts_side_by_side(
    Automaton& a, std::array<TablePart, parts_side_by_side_in_table>& parts) {
  std::array<TablePart*, parts_side_by_side_in_table> active{};
  std::size_t count = 0;
  for (TablePart& s : parts) {
    if (can_go_on(s)) active[count++] = &s;
  }
  while (count != 0) {
    // Walk i counts in column i: what its column gained, it began.
    for (std::size_t i = 0; i < count; ++i) {
      active[i]->column = i;
      active[i]->column_count = lines_begun_in_column(a, i);
    }
    switch (a.row_shift) {
      case 6:
        walk_first_side_by_side<6, parts_side_by_side_in_table>(a, active, count);
        break;
      case 7:
        walk_first_side_by_side<7, parts_side_by_side_in_table>(a, active, count);
        break;
      default:
        walk_first_side_by_side<8, parts_side_by_side_in_table>(a, active, count);
        break;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      active[i]->lines_begun = lines_begun(a, *active[i]);
      active[i]->column = no_column;
      if (can_go_on(*active[i])) active[kept++] = active[i];
    }
    count = kept;
  }
}

}  // namespace

RangeCount count_lines_in_table(Automaton& a, std::string_view block) {
  // 1. Cut the block after line feeds into parts of about equal size, each
  //    at the start of its first line.
  std::array<TablePart, parts_side_by_side_in_table> parts;
  std::size_t from = 0;
  for (std::size_t k = 0; k < parts_side_by_side_in_table; ++k) {
    const std::size_t cut = cut_after_line_feed(block, from, k, parts_side_by_side_in_table);
    TablePart& s = parts[k];
    s.next_line = block.data() + from;
    s.part_end = block.data() + cut;
    s.counters = part_counters(a, k, parts_side_by_side_in_table);
    s.row = a.line_start_row;
    s.next_byte = reinterpret_cast<const unsigned char*>(s.next_line);
    s.line_start = s.next_line;
    from = cut;
  }
  // 2. Side by side.
  walk_parts_side_by_side(a, parts);
  // 3. Finish the parts in order; each part's lines follow those before it.
  //    Every line is begun once, from the start row, whether it ends with a
  //    line feed or with the part.
  RangeCount range;
  for (TablePart& s : parts) {
    finish_alone(a, s);
    add_part(range, s.held, s.lines_begun);
  }
  return range;
}
