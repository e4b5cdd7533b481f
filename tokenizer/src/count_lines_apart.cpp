// Counting over lines cut first: each line's end is found before it is
// walked, and the line is trimmed and loses its start pattern, so that the
// walk sees only the text to tokenise. Through the dense table the parts of
// a block go side by side (side_by_side.h), a fast step adding the pop it
// made to the node's counter. A line that cannot go side by side (a valid
// byte right after its text, where a blank is valid) is walked alone on the
// way, line_walk.h checking where it ends; a part that holds back many
// messages stops, and is finished alone once the others are done, as is the
// single part of a tokeniser without a dense table.
#include <cstring>

#include "counting.h"
#include "line_walk.h"
#include "side_by_side.h"
#include "start_patterns.h"
#include "trim.h"

namespace {

struct Nothing {};

// One part of a block, walked line by line.
struct CountedPart {
  // Where its walk stands (see side_by_side.h): the node's row, and the
  // bytes still to read of the current line, up to `text_end`.
  std::uint32_t row = 0;
  const unsigned char* next_byte = nullptr;
  Nothing out;
  const unsigned char* text_end = nullptr;  // the end of the current line's trimmed text
  const char* next_line = nullptr;          // where the next line starts
  const char* part_end = nullptr;
  bool done = false;              // no line left
  std::string_view trimmed_line;  // the current line, trimmed
  std::uint64_t lines = 0;        // lines up to the current one; at the end, all
  PartCounters counters;
  std::vector<InvalidByte> held;  // lines numbered within the part
};

void report_invalid_byte(CountedPart& s, unsigned char byte) {
  s.held.push_back({s.lines, byte, s.trimmed_line});
}

void end_line(const Automaton& a, CountedPart& s) {
  ++s.counters.ends[(s.row >> a.row_shift) * s.counters.stride];
}

// Walks the current line of part `s` alone, from where it stands, and ends
// it.
void walk_alone(const Automaton& a, CountedPart& s) {
  const PartCounters& c = s.counters;
  const std::uint32_t node = walk_line(
      a, s.row >> a.row_shift, s.next_byte, s.text_end,
      [&](std::uint32_t v, std::uint32_t entry) { c.pops[v * c.stride] += entry >> 31; },
      [&](std::uint32_t v) { ++c.pops[v * c.stride]; },
      [&](const unsigned char* at) { report_invalid_byte(s, *at); });
  s.row = node << a.row_shift;
  end_line(a, s);
}

// Starts the next line of the part that can go side by side: trimmed, its
// start pattern removed. It can when the byte after it is not valid, as a
// line feed never is: its step then takes the slow way, which ends the line,
// so the side-by-side walk needs no bounds check. Each line on the way that
// cannot is walked alone. False when the part is done.
bool begin_line(const Automaton& a, CountedPart& s) {
  for (;;) {
    if (s.next_line == s.part_end) {
      s.done = true;
      return false;
    }
    ++s.lines;
    s.row = 0;
    const char* const line_start = s.next_line;
    const auto rest = static_cast<std::size_t>(s.part_end - line_start);
    const char* lf = static_cast<const char*>(std::memchr(line_start, '\n', rest));
    const char* line_end = lf != nullptr ? lf : s.part_end;
    s.trimmed_line = trim_view(std::string_view(line_start, static_cast<std::size_t>(line_end - line_start)));
    s.text_end = reinterpret_cast<const unsigned char*>(s.trimmed_line.data() + s.trimmed_line.size());
    s.next_line = lf != nullptr ? lf + 1 : s.part_end;
    s.next_byte = reinterpret_cast<const unsigned char*>(s.trimmed_line.data()) +
                  start_pattern_length(a.start, s.trimmed_line);
    const char* after = s.trimmed_line.data() + s.trimmed_line.size();
    if (after != s.part_end && a.byte_class[static_cast<unsigned char>(*after)] == 0) return true;
    walk_alone(a, s);
  }
}

// Counting side by side: the fast step adds the pop it made, walk i in
// counter slot i.
struct CountingWalk {
  using Part = CountedPart;
  using Out = Nothing;
  const Automaton& automaton;
  struct {
    std::uint64_t* pops;  // the first part's counters

    template <unsigned Shift>
    void step(std::size_t i, std::size_t row, std::uint32_t entry, Nothing& /*out*/) const {
      static_assert(parts_side_by_side == 4 && Shift >= 2);
      pops[(row >> (Shift - 2)) + i] += entry >> 31;  // row >> (Shift - 2) == node * parts_side_by_side
    }
  } fast;

  // The end of the line, or a step by the general rule.
  bool slow(CountedPart& s) const {
    const Automaton& a = automaton;
    if (s.next_byte - 1 == s.text_end) {
      end_line(a, s);
      begin_line(a, s);
    } else {
      const unsigned char byte = s.next_byte[-1];
      s.row =
          count_slow_step(a, s.counters, s.row >> a.row_shift, byte, [&] { report_invalid_byte(s, byte); })
          << a.row_shift;
    }
    return can_go_on(s);
  }

  bool can_go_on(const CountedPart& s) const { return !s.done && s.held.size() < held_message_limit; }
};

// Walks the rest of part `s` alone.
void finish_alone(const Automaton& a, CountedPart& s) {
  while (!s.done) {
    walk_alone(a, s);
    begin_line(a, s);
  }
}

}  // namespace

RangeCount count_lines_apart(Automaton& a, std::string_view block) {
  // 1. Cut the block after line feeds into parts of about equal size, and
  //    begin the first line of each.
  const std::size_t used = a.table.empty() ? 1 : parts_side_by_side;
  std::array<CountedPart, parts_side_by_side> parts;
  std::size_t from = 0;
  for (std::size_t k = 0; k < used; ++k) {
    const std::size_t cut = cut_after_line_feed(block, from, k, used);
    CountedPart& s = parts[k];
    s.next_line = block.data() + from;
    s.part_end = block.data() + cut;
    s.counters = part_counters(a, k, used);
    begin_line(a, s);
    from = cut;
  }
  // 2. Side by side, through the dense table.
  if (!a.table.empty()) {
    CountingWalk walk{a, {a.pop_count.data()}};
    walk_parts_side_by_side(walk, parts);
  }
  // 3. Finish the parts in order; each part's lines follow those before it.
  RangeCount range;
  for (std::size_t k = 0; k < used; ++k) {
    finish_alone(a, parts[k]);
    add_part(range, parts[k].held, parts[k].lines);
  }
  return range;
}
