// The walks of the tokeniser over the text, and the counts they leave. The
// tokeniser itself is built in automaton.cpp.
#include "tokenizer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "messages.h"
#include "trim.h"

std::string text_of(const Tokenizer& t, std::uint32_t node) {
  std::string text;
  for (; node != 0; node = t.parent[node]) text += static_cast<char>(t.edge[node]);
  std::reverse(text.begin(), text.end());
  return text;
}

namespace {

// Moves the counts kept in the table to pop_count.
void fold_table_counts(Tokenizer& t) {
  t.unfolded_rounds = 0;
  if (t.line_start_row == 0) return;
  const std::size_t rows = t.table.size() >> t.row_shift;
  for (std::size_t v = 0; v < rows; ++v) {
    std::uint32_t* counts = &t.table[(v << t.row_shift) + table_counters_at];
    for (std::size_t k = 0; k < line_stream_count; ++k) {
      t.pop_count[v * line_stream_count + k] += std::exchange(counts[k], 0);
    }
  }
}

}  // namespace

std::vector<std::pair<std::string, std::uint64_t>> take_token_counts(Tokenizer& t) {
  fold_table_counts(t);
  // Fold the streams' counters, stored row by row, into the first rows.
  const std::size_t rows = counted_rows(t);
  const std::size_t streams = t.pop_count.size() / rows;
  for (std::size_t v = 0; v < rows; ++v) {
    std::uint64_t pops = 0;
    std::uint64_t ends = 0;
    for (std::size_t k = 0; k < streams; ++k) {
      pops += std::exchange(t.pop_count[v * streams + k], 0);
      ends += std::exchange(t.end_count[v * streams + k], 0);
    }
    t.pop_count[v] = pops;
    t.end_count[v] = ends;
  }
  // Deepest first: every node hands its counts to shallower nodes only.
  std::vector<std::pair<std::string, std::uint64_t>> counts;
  for (std::size_t v = t.parent.size(); v-- > 1;) {
    // A text that ended on v pops v, then ends on fail[v].
    t.pop_count[v] += t.end_count[v];
    t.end_count[t.fail[v]] += t.end_count[v];
    t.end_count[v] = 0;
    const std::uint64_t pops = t.pop_count[v];
    t.pop_count[v] = 0;
    if (pops == 0) continue;
    if (t.is_token[v]) {
      counts.emplace_back(text_of(t, static_cast<std::uint32_t>(v)), pops);
    } else {
      t.pop_count[t.parent[v]] += pops;
      for (std::uint32_t i = t.extra_begin[v]; i < t.extra_begin[v + 1]; ++i) {
        t.pop_count[t.extra_pops[i]] += pops;
      }
    }
  }
  t.pop_count[0] = 0;
  t.end_count[0] = 0;
  return counts;
}

namespace {

// One part of a block, walked line by line: by the walk that cuts lines
// first, which knows each line's end before it walks it (`text_end`, `guarded`,
// `done`), or by the walk with line ends in the table (`in_table`), which
// finds a line's bounds only to report an invalid byte in it (`line_end`).
struct Stream {
  const unsigned char* next_byte = nullptr;  // the bytes still to read
  const unsigned char* text_end = nullptr;   // the end of the current line's trimmed text
  std::uint32_t row = 0;                     // the walk's node, as a row offset
  const char* next_line = nullptr;           // where the next line starts
  const char* part_end = nullptr;
  bool done = false;                 // no line left
  bool guarded = false;              // an invalid byte stands at text_end
  bool in_table = false;             // the table walks the line ends
  const char* line_start = nullptr;  // the current line (the one found last)
  std::string_view trimmed_line;     // the current line, trimmed
  const char* line_end = nullptr;    // the end of the line found last
  std::uint64_t lines = 0;           // lines up to the current one; at the end, all
  std::uint64_t* pops = nullptr;     // this stream's counters: row v at [v * stride]
  std::uint64_t* ends = nullptr;
  std::size_t stride = 1;
  std::vector<InvalidByte> held;  // lines numbered within the part
};

// Messages of a part held back at most this many before the walk falls back
// to one part at a time.
constexpr std::size_t held_message_limit = 4096;

// A byte that trimming removes, other than the line feed that ends the line.
bool is_trimmed_blank(char c) { return c != '\n' && blank_bytes.find(c) != std::string_view::npos; }

// Finds the end of the current line, from the next line feed.
void find_line_end(Stream& s) {
  const auto rest = static_cast<std::size_t>(s.part_end - s.line_start);
  const char* lf = static_cast<const char*>(std::memchr(s.line_start, '\n', rest));
  const char* line_end = lf != nullptr ? lf : s.part_end;
  s.trimmed_line =
      trim_view(std::string_view(s.line_start, static_cast<std::size_t>(line_end - s.line_start)));
  s.text_end = reinterpret_cast<const unsigned char*>(s.trimmed_line.data() + s.trimmed_line.size());
  s.next_line = lf != nullptr ? lf + 1 : s.part_end;
}

// When the table walks the line ends, the line of an invalid byte is found
// from the last line found, as seldom as bytes are invalid: the line feeds
// between are counted, the line's start is found backwards and its end
// forwards. `lines` and `line_start` follow.
void find_line_of(Stream& s, const char* at) {
  if (s.line_end != nullptr) {
    if (at < s.line_end) return;
    s.line_start = s.line_end + 1;
    ++s.lines;
  }
  const char* start = at;
  while (start != s.line_start && start[-1] != '\n') --start;
  s.lines += count_line_feeds(s.line_start, start);
  s.line_start = start;
  const auto rest = static_cast<std::size_t>(s.part_end - at);
  const char* lf = static_cast<const char*>(std::memchr(at, '\n', rest));
  s.line_end = lf != nullptr ? lf : s.part_end;
  s.trimmed_line =
      trim_view(std::string_view(s.line_start, static_cast<std::size_t>(s.line_end - s.line_start)));
}

void report_invalid_byte(Stream& s, unsigned char byte) {
  if (s.in_table) find_line_of(s, reinterpret_cast<const char*>(s.next_byte - 1));
  s.held.push_back({s.lines, byte, s.trimmed_line});
}

// Moves one step from `node` on `byte` without the dense table's shortcuts:
// pops until some node has a child on `byte`. At the root, that fails only
// for an invalid byte, which is reported and skipped.
std::uint32_t step_slowly(const Tokenizer& t, Stream& s, std::uint32_t node, unsigned char byte) {
  for (;;) {
    const std::uint32_t next = child_of(t, node, byte);
    if (next != no_node) return next;
    if (node == 0) {
      report_invalid_byte(s, byte);
      return 0;
    }
    ++s.pops[node * s.stride];
    node = t.fail[node];
  }
}

void end_line(const Tokenizer& t, Stream& s) { ++s.ends[(s.row >> t.row_shift) * s.stride]; }

// Starts the next line of the part: trimmed, its start pattern removed. False
// when the part is done. The line is `guarded` when the byte after it is not
// valid, as a line feed never is: its step then takes the slow way, which
// ends the line, so the side-by-side walk needs no bounds check.
bool begin_line(const Tokenizer& t, const StartMatcher& start, Stream& s) {
  if (s.next_line == s.part_end) {
    s.done = true;
    return false;
  }
  ++s.lines;
  s.row = 0;
  s.line_start = s.next_line;
  find_line_end(s);
  s.next_byte = reinterpret_cast<const unsigned char*>(s.trimmed_line.data()) +
                start_pattern_length(start, s.trimmed_line);
  const char* after = s.trimmed_line.data() + s.trimmed_line.size();
  s.guarded = after != s.part_end && t.byte_class[static_cast<unsigned char>(*after)] == 0;
  return true;
}

// Whether a walk with line ends in the table, meeting an invalid byte at
// `at`, has met the end of its line: only blanks follow up to the line feed
// or the end of the part. If so, notes where the next line starts.
bool meets_line_end(Stream& s, const unsigned char* at) {
  const char* p = reinterpret_cast<const char*>(at);
  while (p != s.part_end && is_trimmed_blank(*p)) ++p;
  if (p != s.part_end && *p != '\n') return false;
  s.next_line = p == s.part_end ? p : p + 1;
  return true;
}

// With line ends in the table: the walk goes on at the start of the line at
// s.next_line.
void go_to_next_line(const Tokenizer& t, Stream& s) {
  s.row = t.line_start_row;
  s.next_byte = reinterpret_cast<const unsigned char*>(s.next_line);
}

// One byte of stream `s`, with the bounds of the line checked by the caller.
void step(const Tokenizer& t, Stream& s) {
  const unsigned char byte = *s.next_byte++;
  if (t.table.empty()) {
    s.row = step_slowly(t, s, s.row, byte);
    return;
  }
  const std::uint32_t entry = t.table[s.row + t.byte_class[byte]];
  s.pops[(s.row >> t.row_shift) * s.stride] += entry >> 31;
  s.row = (entry & slow_bit) != 0 ? step_slowly(t, s, s.row >> t.row_shift, byte) << t.row_shift
                                  : entry & row_mask;
}

// Walks the rest of stream `s` alone, within the bounds of each line.
void finish_stream(const Tokenizer& t, const StartMatcher& start, Stream& s) {
  while (!s.done) {
    while (s.next_byte != s.text_end) step(t, s);
    end_line(t, s);
    begin_line(t, start, s);
  }
}

// With line ends in the table: the line that begins at `at` read by the
// general code, its leading blanks skipped and its start pattern removed, or
// ended when it is blank.
void restart_line(const Tokenizer& t, const StartMatcher& start, Stream& s, const unsigned char* at) {
  if (meets_line_end(s, at)) return go_to_next_line(t, s);
  const char* p = reinterpret_cast<const char*>(at);
  while (is_trimmed_blank(*p)) ++p;  // up to a byte that is not blank
  const std::string_view rest(p, static_cast<std::size_t>(s.part_end - p));
  s.next_byte = reinterpret_cast<const unsigned char*>(p) + start_pattern_length(start, rest);
  s.row = 0;
}

// With line ends in the table: the slow step on the byte before s.next_byte.
// A line-start row reads its line's start again; a line feed ends the line on
// a node that pops more than once; an invalid byte that only blanks follow up
// to the line feed ends the line too. False when the walk did not move by
// just that byte.
bool step_in_table_slowly(const Tokenizer& t, const StartMatcher& start, Stream& s) {
  const unsigned char* at = s.next_byte - 1;
  const unsigned char byte = *at;
  const std::uint32_t node = s.row >> t.row_shift;
  if (s.row == t.carriage_return_row) {
    // The carriage return before `at` ended the line unless other bytes
    // follow it; then it was an invalid byte at the root.
    if (meets_line_end(s, at - 1)) {
      go_to_next_line(t, s);
      return false;
    }
    s.next_byte = at;
    report_invalid_byte(s, '\r');
    s.row = 0;
    return false;  // `at` is read again, from the root
  }
  if (s.row >= t.line_start_row) {
    restart_line(t, start, s, at - t.line_start_depth[node - t.parent.size()]);
    return false;
  }
  if (byte == '\n') {
    ++s.ends[node * s.stride];
    s.row = t.line_start_row;
    return true;
  }
  if (t.root_child[byte] == no_node && meets_line_end(s, at)) {
    ++s.ends[node * s.stride];
    go_to_next_line(t, s);
    return false;
  }
  s.row = step_slowly(t, s, node, byte) << t.row_shift;
  return true;
}

// With line ends in the table: the rest of stream `s` alone, then the end of
// its part, where a last line without a line feed ends.
void finish_in_table(const Tokenizer& t, const StartMatcher& start, Stream& s) {
  const auto* end = reinterpret_cast<const unsigned char*>(s.part_end);
  for (;;) {
    while (s.next_byte != end) {
      const unsigned char byte = *s.next_byte++;
      const std::uint32_t entry = t.table[s.row + t.byte_class[byte]];
      s.pops[(s.row >> t.row_shift) * s.stride] += entry >> 31;
      if ((entry & slow_bit) == 0) {
        s.row = entry & row_mask;
      } else {
        step_in_table_slowly(t, start, s);
      }
    }
    const std::uint32_t node = s.row >> t.row_shift;
    if (s.row < t.line_start_row) {
      if (node != 0) ++s.ends[node * s.stride];
      break;
    }
    const std::uint32_t depth = t.line_start_depth[node - t.parent.size()];
    if (depth == 0) break;
    restart_line(t, start, s, end - depth);
  }
  s.done = true;
}

// Walks the `N` streams side by side, one byte of each in turn, until one of
// them must stop: its part is done, its next line is not guarded, or it holds
// back too many messages. Each walk lives in two registers, its node's row and
// its next byte; the rare steps (the end of a line, an invalid byte, several
// pops at once) go through the Stream. `Shift` is the table's row_shift, fixed
// so that a node's counters are found with one shift: walk i counts in slot i.
template <unsigned Shift, std::size_t N>
void walk_side_by_side(Tokenizer& t, const StartMatcher& start, const std::array<Stream*, N>& streams) {
  static_assert(stream_count == 4 && N >= 1 && N <= stream_count && Shift >= 2);
  const std::uint32_t* const table = t.table.data();
  const std::uint8_t* const byte_class = t.byte_class.data();
  std::uint64_t* const pops = t.pop_count.data();
  constexpr unsigned to_counter = Shift - 2;  // row >> to_counter == node * stream_count
  // One step of walk i; false when the walks must stop. The walks' state is
  // passed as separate scalars, which the compiler keeps in registers.
  auto step_one = [&](std::size_t i, std::size_t & row, const unsigned char*& next)
      __attribute__((always_inline)) {
    const std::uint32_t entry = table[row + byte_class[*next++]];
    pops[(row >> to_counter) + i] += entry >> 31;
    if ((entry & slow_bit) == 0) [[likely]] {
      row = entry & row_mask;
      return true;
    }
    Stream& s = *streams[i];
    const unsigned char byte = next[-1];
    bool going = true;
    s.row = static_cast<std::uint32_t>(row);
    if (next - 1 == s.text_end) {
      s.next_byte = next - 1;
      end_line(t, s);
      going = begin_line(t, start, s) && s.guarded;
    } else {
      s.next_byte = next;
      s.row = step_slowly(t, s, s.row >> Shift, byte) << Shift;
      going = s.held.size() < held_message_limit;
    }
    row = s.row;
    next = s.next_byte;
    return going;
  };
  std::size_t row0 = streams[0]->row, row1 = 0, row2 = 0, row3 = 0;
  const unsigned char* next0 = streams[0]->next_byte;
  const unsigned char *next1 = nullptr, *next2 = nullptr, *next3 = nullptr;
  if constexpr (N > 1) row1 = streams[1]->row, next1 = streams[1]->next_byte;
  if constexpr (N > 2) row2 = streams[2]->row, next2 = streams[2]->next_byte;
  if constexpr (N > 3) row3 = streams[3]->row, next3 = streams[3]->next_byte;
  for (;;) {
    if (!step_one(0, row0, next0)) break;
    if constexpr (N > 1)
      if (!step_one(1, row1, next1)) break;
    if constexpr (N > 2)
      if (!step_one(2, row2, next2)) break;
    if constexpr (N > 3)
      if (!step_one(3, row3, next3)) break;
  }
  streams[0]->row = static_cast<std::uint32_t>(row0), streams[0]->next_byte = next0;
  if constexpr (N > 1) streams[1]->row = static_cast<std::uint32_t>(row1), streams[1]->next_byte = next1;
  if constexpr (N > 2) streams[2]->row = static_cast<std::uint32_t>(row2), streams[2]->next_byte = next2;
  if constexpr (N > 3) streams[3]->row = static_cast<std::uint32_t>(row3), streams[3]->next_byte = next3;
}

// The table's counters are folded into pop_count at least this often, in
// rounds of the side-by-side walk.
constexpr std::size_t fold_every = std::size_t{1} << 30;

// The walk of walk_side_by_side when the table walks the line ends: no line
// needs a guard, so the walks go on until one of them reaches the end of its
// part, which none passes while each takes one byte a round; after a step
// that moves otherwise, the rounds left are counted again. A walk that holds
// back too many messages stops them all.
template <std::size_t N>
void walk_lines_side_by_side(Tokenizer& t, const StartMatcher& start, const std::array<Stream*, N>& streams) {
  static_assert(N >= 1 && N <= line_stream_count);
  std::uint32_t* const table = t.table.data();
  const std::uint8_t* const byte_class = t.byte_class.data();
  std::array<std::size_t, N> row;
  std::array<const unsigned char*, N> next;
  for (std::size_t i = 0; i < N; ++i) row[i] = streams[i]->row, next[i] = streams[i]->next_byte;
  // One step of walk i on the byte at `at`; false when the walk moved
  // otherwise than to the next byte, to s.next_byte, or holds back as many
  // messages as it may.
  auto step_one = [&](std::size_t i, const unsigned char* at) __attribute__((always_inline)) {
    const std::uint32_t entry = table[row[i] + byte_class[*at]];
    table[row[i] + table_counters_at + i] += entry >> 31;
    if ((entry & slow_bit) == 0) [[likely]] {
      row[i] = entry & row_mask;
      return true;
    }
    Stream& s = *streams[i];
    s.row = static_cast<std::uint32_t>(row[i]);
    s.next_byte = at + 1;
    const bool one_byte = step_in_table_slowly(t, start, s);
    row[i] = s.row;
    return one_byte && s.held.size() < held_message_limit;
  };
  for (;;) {
    std::size_t rounds = fold_every;
    for (std::size_t i = 0; i < N; ++i) {
      rounds = std::min(
          rounds, static_cast<std::size_t>(streams[i]->part_end - reinterpret_cast<const char*>(next[i])));
    }
    if (rounds == 0) break;
    // No counter in the table may pass 2^32 - 1: each walk adds at most one
    // a round.
    if (t.unfolded_rounds + rounds > fold_every) fold_table_counts(t);
    t.unfolded_rounds += rounds;
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
    for (std::size_t i = 0; i < N; ++i) next[i] = (moved >> i & 1) != 0 ? streams[i]->next_byte : next[i] + k;
    if (moved != 0 && std::any_of(streams.begin(), streams.end(),
                                  [](const Stream* s) { return s->held.size() >= held_message_limit; })) {
      break;
    }
  }
  for (std::size_t i = 0; i < N; ++i) {
    streams[i]->row = static_cast<std::uint32_t>(row[i]);
    streams[i]->next_byte = next[i];
  }
}

// walk_lines_side_by_side for the first `count` (1 to N) of `active`.
template <std::size_t N>
void walk_lines_of_first(Tokenizer& t, const StartMatcher& start,
                         const std::array<Stream*, line_stream_count>& active, std::size_t count) {
  if constexpr (N > 1) {
    if (count < N) return walk_lines_of_first<N - 1>(t, start, active, count);
  }
  std::array<Stream*, N> first;
  std::copy_n(active.begin(), N, first.begin());
  walk_lines_side_by_side<N>(t, start, first);
}

// walk_side_by_side for the first `count` (1 to 4) of `active`.
template <unsigned Shift>
void walk_any(Tokenizer& t, const StartMatcher& start, const std::array<Stream*, line_stream_count>& a,
              std::size_t count) {
  switch (count) {
    case 4:
      walk_side_by_side<Shift, 4>(t, start, {a[0], a[1], a[2], a[3]});
      break;
    case 3:
      walk_side_by_side<Shift, 3>(t, start, {a[0], a[1], a[2]});
      break;
    case 2:
      walk_side_by_side<Shift, 2>(t, start, {a[0], a[1]});
      break;
    default:
      walk_side_by_side<Shift, 1>(t, start, {a[0]});
      break;
  }
}

// Walks the parts side by side, fewer as they stop, until all have stopped.
// A part that stopped for any reason but being done is finished alone later.
void walk_parts(Tokenizer& t, const StartMatcher& start, std::array<Stream, line_stream_count>& parts,
                std::size_t streams) {
  std::array<Stream*, line_stream_count> active{};
  std::size_t count = 0;
  auto can_go_on = [](const Stream& s) {
    const bool going =
        s.in_table ? reinterpret_cast<const char*>(s.next_byte) != s.part_end : !s.done && s.guarded;
    return going && s.held.size() < held_message_limit;
  };
  for (std::size_t k = 0; k < streams; ++k) {
    if (can_go_on(parts[k])) active[count++] = &parts[k];
  }
  while (count != 0) {
    if (t.line_start_row != 0) {
      walk_lines_of_first<line_stream_count>(t, start, active, count);
    } else {
      switch (t.row_shift) {
        case 6:
          walk_any<6>(t, start, active, count);
          break;
        case 7:
          walk_any<7>(t, start, active, count);
          break;
        default:
          walk_any<8>(t, start, active, count);
          break;
      }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (can_go_on(*active[i])) active[kept++] = active[i];
    }
    count = kept;
  }
}

}  // namespace

RangeCount count_range(Tokenizer& t, const StartMatcher& start, std::string_view block) {
  const std::size_t rows = counted_rows(t);
  const std::size_t streams = t.pop_count.size() / rows;
  // 1. Cut the block after line feeds into parts of about equal size, and
  //    begin the first line of each.
  std::array<Stream, line_stream_count> parts;
  const char* cut = block.data();
  const char* const block_end = block.data() + block.size();
  for (std::size_t k = 0; k < streams; ++k) {
    Stream& s = parts[k];
    s.next_line = cut;
    if (k + 1 == streams) {
      cut = block_end;
    } else {
      const char* target = std::max(cut, block.data() + block.size() * (k + 1) / streams);
      const void* lf = target == block_end
                           ? nullptr
                           : std::memchr(target, '\n', static_cast<std::size_t>(block_end - target));
      cut = lf != nullptr ? static_cast<const char*>(lf) + 1 : block_end;
    }
    s.part_end = cut;
    s.pops = t.pop_count.data() + k;
    s.ends = t.end_count.data() + k;
    s.stride = streams;
    if (t.line_start_row != 0) {
      s.in_table = true;
      s.row = t.line_start_row;
      s.next_byte = reinterpret_cast<const unsigned char*>(s.next_line);
      s.line_start = s.next_line;
      s.lines = 1;
      continue;
    }
    begin_line(t, start, s);
  }
  // 2. Side by side, through the dense table.
  if (!t.table.empty()) walk_parts(t, start, parts, streams);
  // 3. Finish the parts in order; each part's lines follow those before it.
  RangeCount range;
  for (std::size_t k = 0; k < streams; ++k) {
    Stream& s = parts[k];
    if (s.in_table) {
      finish_in_table(t, start, s);
      const char* const begin = k == 0 ? block.data() : parts[k - 1].part_end;
      s.lines = count_line_feeds(begin, s.part_end);
      if (begin != s.part_end && s.part_end[-1] != '\n') ++s.lines;
    } else {
      finish_stream(t, start, s);
    }
    for (InvalidByte m : s.held) {
      m.line += range.lines;
      range.invalid_bytes.push_back(m);
    }
    range.lines += s.lines;
  }
  return range;
}

void write_invalid_byte_messages(Output& messages, const std::vector<InvalidByte>& invalid_bytes,
                                 std::uint64_t first_line_number) {
  for (const InvalidByte& m : invalid_bytes) {
    put_invalid_byte_message([&](std::string_view piece) { write_output(messages, piece); }, m.byte,
                             first_line_number + m.line - 1, m.trimmed_line);
  }
}

std::uint64_t count_block(Tokenizer& t, const StartMatcher& start, std::string_view block,
                          std::uint64_t first_line_number, Output& messages) {
  const RangeCount range = count_range(t, start, block);
  write_invalid_byte_messages(messages, range.invalid_bytes, first_line_number);
  return range.lines;
}

// The number of line feeds in [begin, end), sixteen bytes at a time.
std::uint64_t count_line_feeds(const char* begin, const char* end) {
  typedef unsigned char Bytes __attribute__((vector_size(16)));
  std::uint64_t count = 0;
  const char* p = begin;
  while (end - p >= 16) {
    // Each byte of `sums` counts at most 255 line feeds.
    const std::size_t rounds = std::min<std::size_t>(static_cast<std::size_t>(end - p) / 16, 255);
    Bytes sums{};
    for (std::size_t i = 0; i < rounds; ++i, p += 16) {
      Bytes bytes;
      std::memcpy(&bytes, p, sizeof bytes);
      sums -= reinterpret_cast<Bytes>(bytes == '\n');  // -1 where equal
    }
    for (std::size_t k = 0; k < sizeof sums; ++k) count += sums[k];
  }
  return count + static_cast<std::uint64_t>(std::count(p, end, '\n'));
}
