// The dense transition table: one row per node of the trie, one entry per
// class of bytes, so that a walk takes one lookup a byte. An entry leads to
// the child, or, for a byte the node cannot go on with, through its failure
// when that takes one pop; every other step is marked slow and left to the
// general rule. With line ends in the table, the rows of the line starts
// follow, which read a line's start pattern away without a branch.
//
// The columns of a row: invalid bytes first; with line ends, the counters, the
// line feed and the carriage return; then the valid bytes, those on the most
// edges of the trie first. The patterns are the frequent fragments of the
// text, so the entries read most often share the row's first cache line.
//
// The table with line ends is walked for counting alone, and is then made
// short: 16-bit entries that name the next node, so that a row of 64 takes
// two cache lines rather than four, and the rows the walk keeps coming back
// to stay in the first-level cache. Sets of up to 32,766 rows fit, a few
// times what ten thousand patterns take.
#include <algorithm>
#include <set>
#include <utility>

#include "automaton.h"

namespace {

// Whether the table can walk line ends: no blank is valid and no start
// pattern holds one, so a line's end is its line feed or the first invalid
// byte that only blanks follow up to the line feed.
bool line_ends_can_be_walked(const Automaton& a) {
  return !a.start.holds_blank && a.root_child[' '] == no_node && a.root_child['\t'] == no_node &&
         a.root_child['\r'] == no_node;
}

// The node the trie reaches from the root on `text` without popping, or
// no_node.
std::uint32_t path_of(const Automaton& a, std::string_view text) {
  std::uint32_t node = 0;
  for (char ch : text) {
    node = child_of(a, node, static_cast<unsigned char>(ch));
    if (node == no_node) break;
  }
  return node;
}

// What a line-start row has read of its line.
struct StartPrefix {
  std::string text;
  std::size_t kept_from = 0;  // the length of the longest start pattern it begins with
};

// Line-start rows stand for prefixes up to this long. As a longer start
// pattern may still match, the row of a prefix this long takes the slow step
// on every byte but a line feed.
constexpr std::size_t line_start_depth_limit = 64;

// The proper prefixes of the start patterns up to the first byte of each that
// has no class: the line-start rows, the empty text first, then in byte
// order. Empty when there would be more than `max_rows`.
std::vector<StartPrefix> start_prefixes(const Automaton& a, std::size_t max_rows) {
  std::set<std::string> texts{""};
  for (const std::string& pattern : a.start.sorted) {
    const std::size_t longest = std::min(pattern.size() - 1, line_start_depth_limit);
    for (std::size_t k = 1; k <= longest; ++k) {
      if (a.byte_class[static_cast<unsigned char>(pattern[k - 1])] == 0) break;
      texts.insert(pattern.substr(0, k));
      if (texts.size() > max_rows) return {};
    }
  }
  std::vector<StartPrefix> prefixes;
  for (const std::string& text : texts) {
    StartPrefix p{text, 0};
    for (std::size_t k = text.size(); k > 0; --k) {
      if (std::binary_search(a.start.sorted.begin(), a.start.sorted.end(), text.substr(0, k))) {
        p.kept_from = k;
        break;
      }
    }
    prefixes.push_back(std::move(p));
  }
  return prefixes;
}

// The line-start rows, after the rows of the trie, then the carriage-return
// row. From a prefix, a byte that extends it to another leads there; a line
// feed right after a start pattern leads to the start of the next line;
// otherwise, below the depth limit, when what follows the longest start
// pattern the line begins with is a path of the trie, the walk goes on at its
// node. Every other step is slow.
void add_line_start_rows(Automaton& a, const std::vector<StartPrefix>& prefixes, unsigned first_class,
                         unsigned classes, unsigned newline_class) {
  const unsigned shift = a.row_shift;
  const std::size_t first = a.parent.size();
  std::array<char, 256> byte_of{};
  for (std::size_t b = 0; b < 256; ++b) byte_of[a.byte_class[b]] = static_cast<char>(b);
  std::vector<std::uint32_t> rows((first + prefixes.size() + 1) << shift, slow_bit);
  std::copy(a.table.begin(), a.table.end(), rows.begin());
  a.line_start_row = static_cast<std::uint32_t>(first << shift);
  a.carriage_return_row = static_cast<std::uint32_t>((first + prefixes.size()) << shift);
  rows[a.carriage_return_row + newline_class] = a.line_start_row;
  a.line_start_depth.clear();
  for (std::size_t i = 0; i < prefixes.size(); ++i) {
    const StartPrefix& p = prefixes[i];
    a.line_start_depth.push_back(static_cast<std::uint32_t>(p.text.size()));
    std::uint32_t* row = &rows[(first + i) << shift];
    if (p.kept_from == p.text.size()) row[newline_class] = a.line_start_row;
    // At the depth limit a longer start pattern may still match: slow.
    if (p.text.size() == line_start_depth_limit) continue;
    const std::string_view text = p.text;
    const std::uint32_t kept = path_of(a, text.substr(p.kept_from));
    for (unsigned c = first_class; c < classes; ++c) {
      const std::string longer = p.text + byte_of[c];
      const auto at = std::lower_bound(prefixes.begin() + 1, prefixes.end(), longer,
                                       [](const StartPrefix& q, const std::string& s) { return q.text < s; });
      if (at != prefixes.end() && at->text == longer) {
        row[c] =
            static_cast<std::uint32_t>((first + static_cast<std::size_t>(at - prefixes.begin())) << shift);
        continue;
      }
      if (std::binary_search(a.start.sorted.begin(), a.start.sorted.end(), longer)) {
        row[c] = 0;  // the line begins with this start pattern and no longer one
        continue;
      }
      const std::uint32_t node =
          kept == no_node ? no_node : child_of(a, kept, static_cast<unsigned char>(byte_of[c]));
      if (node != no_node) row[c] = node << shift;
    }
  }
  a.line_start_depth.push_back(0);  // the carriage-return row
  // A line begun with a fast step counts in the start row's counters.
  for (std::size_t c = 0; c < (std::size_t{1} << shift); ++c) {
    std::uint32_t& step = rows[a.line_start_row + c];
    if (step != slow_bit) step |= fail_bit;
  }
  a.table = std::move(rows);
}

// The classes of the bytes from `first_class` on: the valid bytes, those on
// the most edges of the trie first. Returns the number of classes, or 0 when
// they would not fit in a byte.
unsigned assign_byte_classes(Automaton& a, unsigned first_class) {
  std::array<std::size_t, 256> edges{};
  for (std::size_t v = 1; v < a.parent.size(); ++v) ++edges[a.edge[v]];
  std::vector<unsigned char> valid;
  for (std::size_t b = 0; b < 256; ++b) {
    if (a.root_child[b] != no_node) valid.push_back(static_cast<unsigned char>(b));
  }
  std::stable_sort(valid.begin(), valid.end(),
                   [&](unsigned char x, unsigned char y) { return edges[x] > edges[y]; });
  if (first_class + valid.size() > 256) return 0;  // a class is a byte
  a.byte_class = {};
  unsigned classes = first_class;
  for (unsigned char b : valid) a.byte_class[b] = static_cast<std::uint8_t>(classes++);
  return classes;
}

// The steps from each node to its children.
void add_child_steps(Automaton& a) {
  for (std::size_t v = 1; v < a.parent.size(); ++v) {
    a.table[(std::size_t{a.parent[v]} << a.row_shift) + a.byte_class[a.edge[v]]] =
        static_cast<std::uint32_t>(v << a.row_shift);
  }
}

// For every class from `first_step` that a node has no step for yet, the
// step through fail[v] when that node has the child (one pop); every other
// stays slow. Rows are filled breadth first, so the row of fail[v] is final
// when read.
void add_failure_steps(Automaton& a, std::size_t first_step, unsigned classes) {
  for (std::size_t v = 1; v < a.parent.size(); ++v) {
    std::uint32_t* row = &a.table[v << a.row_shift];
    const std::uint32_t* fail_row = &a.table[std::size_t{a.fail[v]} << a.row_shift];
    for (std::size_t c = first_step; c < classes; ++c) {
      if (row[c] != slow_bit) continue;
      if ((fail_row[c] & (fail_bit | slow_bit)) == 0) row[c] = fail_bit | fail_row[c];
    }
  }
}

// With line ends, the line feed leaves the root for the start of a line,
// and a token node with one pop; so does a carriage return, for the row that
// waits for the line feed (see `carriage_return_row`).
void add_line_end_steps(Automaton& a, unsigned newline_class, std::size_t line_start_rows) {
  const unsigned shift = a.row_shift;
  const std::size_t n = a.parent.size();
  a.byte_class['\n'] = static_cast<std::uint8_t>(newline_class);
  a.byte_class['\r'] = static_cast<std::uint8_t>(newline_class + 1);
  const auto line_start = static_cast<std::uint32_t>(n << shift);
  const auto carriage_return = static_cast<std::uint32_t>((n + line_start_rows) << shift);
  a.table[newline_class] = line_start;
  a.table[newline_class + 1] = carriage_return;
  for (std::uint32_t v = 1; v < n; ++v) {
    if (!is_token(a, v)) continue;
    a.table[(std::size_t{v} << shift) + newline_class] = fail_bit | line_start;
    a.table[(std::size_t{v} << shift) + newline_class + 1] = fail_bit | carriage_return;
  }
}

// The table with line ends, built with entries of 32 bits, made short: every
// step keeps its node and its pop, every slow step is short_slow, and the
// counters start at 0.
void make_table_short(Automaton& a) {
  const unsigned shift = a.row_shift;
  const std::size_t width = std::size_t{1} << shift;
  a.short_table.resize(a.table.size());
  for (std::size_t i = 0; i < a.table.size(); ++i) {
    const std::uint32_t entry = a.table[i];
    a.short_table[i] = (entry & slow_bit) != 0
                           ? short_slow
                           : static_cast<std::uint16_t>(((entry & fail_bit) != 0 ? short_fail_bit : 0) |
                                                        (entry & row_mask) >> shift);
  }
  for (std::size_t at = table_counters_at; at < a.short_table.size(); at += width) {
    std::fill_n(a.short_table.begin() + static_cast<std::ptrdiff_t>(at), 2 * parts_side_by_side_in_table, 0);
  }
  a.table = std::vector<std::uint32_t>();
}

}  // namespace

bool build_dense_table(Automaton& a, bool with_line_ends) {
  if (with_line_ends && !line_ends_can_be_walked(a)) return false;
  const unsigned counters = with_line_ends ? 2 * parts_side_by_side_in_table : 0;
  const unsigned newline_class = with_line_ends ? table_counters_at + counters : 0;
  const unsigned classes = assign_byte_classes(a, with_line_ends ? newline_class + 2 : 1);
  if (classes == 0) return false;
  unsigned shift = 6;  // rows of at least 64 entries: the side-by-side walks are made for 6 to 8
  while ((1u << shift) < classes) ++shift;
  const std::size_t n = a.parent.size();
  const std::size_t width = std::size_t{1} << shift;
  // With line ends, at least the start of a line and the carriage-return row
  // come after the trie's rows, and the short table holds them all.
  const std::size_t rows_after = with_line_ends ? 2 : 0;
  const std::size_t max_rows =
      with_line_ends ? std::min(dense_table_limit / width, short_table_rows) : dense_table_limit / width;
  if (n + rows_after > max_rows) return false;
  std::vector<StartPrefix> prefixes;
  if (with_line_ends) {
    prefixes = start_prefixes(a, max_rows - n - 1);
    if (prefixes.empty()) return false;
  }
  a.row_shift = shift;
  a.table.assign(n * width, slow_bit);
  add_child_steps(a);
  if (with_line_ends) add_line_end_steps(a, newline_class, prefixes.size());
  add_failure_steps(a, with_line_ends ? newline_class : 1, classes);
  if (with_line_ends) {
    add_line_start_rows(a, prefixes, newline_class + 2, classes, newline_class);
    make_table_short(a);
  }
  // The table answers every child lookup now.
  a.first_child = {};
  a.next_sibling = {};
  return true;
}
