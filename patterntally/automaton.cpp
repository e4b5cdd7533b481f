// Building the tokeniser: the trie of tokens, its failure links and pops,
// and the dense transition table with its line-start rows. The walks over
// the text are in tokenizer.cpp.
#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "tokenizer.h"
#include "trim.h"

namespace {

// A trie in the order its nodes were made, before it is numbered breadth first.
struct DraftTrie {
  std::vector<std::uint32_t> parent{no_node};
  std::vector<std::uint8_t> edge{0};
  std::vector<bool> is_token{false};
  std::vector<std::uint32_t> first_child{no_node};
  std::vector<std::uint32_t> next_sibling{no_node};
  std::array<std::uint32_t, 256> root_child = [] {
    std::array<std::uint32_t, 256> a{};
    a.fill(no_node);
    return a;
  }();
};

void insert_token(DraftTrie& d, std::string_view text) {
  std::uint32_t node = 0;
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    std::uint32_t next = no_node;
    if (node == 0) {
      next = d.root_child[byte];
    } else {
      for (std::uint32_t c = d.first_child[node]; c != no_node; c = d.next_sibling[c]) {
        if (d.edge[c] == byte) {
          next = c;
          break;
        }
      }
    }
    if (next == no_node) {
      next = static_cast<std::uint32_t>(d.parent.size());
      d.parent.push_back(node);
      d.edge.push_back(byte);
      d.is_token.push_back(false);
      d.first_child.push_back(no_node);
      d.next_sibling.push_back(d.first_child[node]);
      d.first_child[node] = next;
      if (node == 0) d.root_child[byte] = next;
    }
    node = next;
  }
  d.is_token[node] = true;
}

// Numbers the nodes of `d` breadth first, so that every node comes after its
// parent and after every shallower node.
void number_breadth_first(const DraftTrie& d, Tokenizer& t) {
  const std::size_t n = d.parent.size();
  std::vector<std::uint32_t> order;
  order.reserve(n);
  order.push_back(0);
  for (std::size_t i = 0; i < order.size(); ++i) {
    for (std::uint32_t c = d.first_child[order[i]]; c != no_node; c = d.next_sibling[c]) {
      order.push_back(c);
    }
  }
  std::vector<std::uint32_t> id(n);
  for (std::size_t i = 0; i < n; ++i) id[order[i]] = static_cast<std::uint32_t>(i);
  auto renamed = [&](std::uint32_t old) { return old == no_node ? no_node : id[old]; };
  t.parent.resize(n);
  t.edge.resize(n);
  t.is_token.resize(n);
  t.first_child.resize(n);
  t.next_sibling.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t old = order[i];
    t.parent[i] = renamed(d.parent[old]);
    t.edge[i] = d.edge[old];
    t.is_token[i] = d.is_token[old];
    t.first_child[i] = renamed(d.first_child[old]);
    t.next_sibling[i] = renamed(d.next_sibling[old]);
  }
  for (std::size_t b = 0; b < 256; ++b) t.root_child[b] = renamed(d.root_child[b]);
}

// Failure links and pops, breadth first. A token node pops itself and leaves
// nothing. Any other node v below parent u pops what u pops, which leaves
// fail[u]; while that node cannot go on with v's byte it pops in turn.
void link_failures(Tokenizer& t) {
  const std::size_t n = t.parent.size();
  t.fail.assign(n, 0);
  t.extra_begin.assign(n + 1, 0);
  t.extra_pops.clear();
  for (std::size_t v = 1; v < n; ++v) {
    t.extra_begin[v] = static_cast<std::uint32_t>(t.extra_pops.size());
    if (t.is_token[v]) continue;
    // v is at least two deep: every node one deep is a valid byte, a token.
    // The root has a child for every valid byte, so the loop ends there.
    std::uint32_t z = t.fail[t.parent[v]];
    for (;;) {
      const std::uint32_t next = child_of(t, z, t.edge[v]);
      if (next != no_node) {
        t.fail[v] = next;
        break;
      }
      t.extra_pops.push_back(z);
      z = t.fail[z];
    }
  }
  t.extra_begin[n] = static_cast<std::uint32_t>(t.extra_pops.size());
}

// Whether the table can walk line ends: no blank is valid and no start
// pattern holds one, so a line's end is its line feed or the first invalid
// byte that only blanks follow up to the line feed.
bool line_ends_can_be_walked(const Tokenizer& t, const StartMatcher& start) {
  return !start.holds_blank && t.root_child[' '] == no_node && t.root_child['\t'] == no_node &&
         t.root_child['\r'] == no_node;
}

// The node the trie reaches from the root on `text` without popping, or
// no_node.
std::uint32_t path_of(const Tokenizer& t, std::string_view text) {
  std::uint32_t node = 0;
  for (char ch : text) {
    node = child_of(t, node, static_cast<unsigned char>(ch));
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
std::vector<StartPrefix> start_prefixes(const Tokenizer& t, const StartMatcher& start, std::size_t max_rows) {
  std::set<std::string> texts{""};
  for (const std::string& pattern : start.sorted) {
    const std::size_t longest = std::min(pattern.size() - 1, line_start_depth_limit);
    for (std::size_t k = 1; k <= longest; ++k) {
      if (t.byte_class[static_cast<unsigned char>(pattern[k - 1])] == 0) break;
      texts.insert(pattern.substr(0, k));
      if (texts.size() > max_rows) return {};
    }
  }
  std::vector<StartPrefix> prefixes;
  for (const std::string& text : texts) {
    StartPrefix p{text, 0};
    for (std::size_t k = text.size(); k > 0; --k) {
      if (std::binary_search(start.sorted.begin(), start.sorted.end(), text.substr(0, k))) {
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
void add_line_start_rows(Tokenizer& t, const StartMatcher& start, const std::vector<StartPrefix>& prefixes,
                         unsigned first_class, unsigned classes, unsigned newline_class) {
  const unsigned shift = t.row_shift;
  const std::size_t first = t.parent.size();
  std::array<char, 256> byte_of{};
  for (std::size_t b = 0; b < 256; ++b) byte_of[t.byte_class[b]] = static_cast<char>(b);
  std::vector<std::uint32_t> rows((first + prefixes.size() + 1) << shift, slow_bit);
  std::copy(t.table.begin(), t.table.end(), rows.begin());
  t.line_start_row = static_cast<std::uint32_t>(first << shift);
  t.carriage_return_row = static_cast<std::uint32_t>((first + prefixes.size()) << shift);
  rows[t.carriage_return_row + newline_class] = t.line_start_row;
  t.line_start_depth.clear();
  for (std::size_t i = 0; i < prefixes.size(); ++i) {
    const StartPrefix& p = prefixes[i];
    t.line_start_depth.push_back(static_cast<std::uint32_t>(p.text.size()));
    std::uint32_t* row = &rows[(first + i) << shift];
    if (p.kept_from == p.text.size()) row[newline_class] = t.line_start_row;
    // At the depth limit a longer start pattern may still match: slow.
    if (p.text.size() == line_start_depth_limit) continue;
    const std::string_view text = p.text;
    const std::uint32_t kept = path_of(t, text.substr(p.kept_from));
    for (unsigned c = first_class; c < classes; ++c) {
      const std::string longer = p.text + byte_of[c];
      const auto at = std::lower_bound(prefixes.begin() + 1, prefixes.end(), longer,
                                       [](const StartPrefix& q, const std::string& s) { return q.text < s; });
      if (at != prefixes.end() && at->text == longer) {
        row[c] =
            static_cast<std::uint32_t>((first + static_cast<std::size_t>(at - prefixes.begin())) << shift);
        continue;
      }
      if (std::binary_search(start.sorted.begin(), start.sorted.end(), longer)) {
        row[c] = 0;  // the line begins with this start pattern and no longer one
        continue;
      }
      const std::uint32_t node =
          kept == no_node ? no_node : child_of(t, kept, static_cast<unsigned char>(byte_of[c]));
      if (node != no_node) row[c] = node << shift;
    }
  }
  t.line_start_depth.push_back(0);  // the carriage-return row
  t.table = std::move(rows);
}

// The dense table: children first, then for every other valid byte the step
// through fail[v] when that node has the child (one pop), else the slow loop.
// Rows are filled breadth first, so the row of fail[v] is final when read.
// With line ends, the line feed leaves the root for the start of a line, and
// a token node with one pop; so does a carriage return, for the row that
// waits for the line feed (see `carriage_return_row`).
//
// The columns of a row: invalid bytes first; with line ends, the counters, the
// line feed and the carriage return; then the valid bytes, those on the most
// edges of the trie first. The patterns are the frequent fragments of the
// text, so the entries read most often share the row's first cache line.
bool build_dense_table(Tokenizer& t, const StartMatcher& start, bool with_line_ends) {
  const unsigned counters = with_line_ends ? line_stream_count : 0;
  const unsigned newline_class = with_line_ends ? table_counters_at + counters : 0;
  const unsigned first_class = with_line_ends ? newline_class + 2 : 1;
  std::array<std::size_t, 256> edges{};
  for (std::size_t v = 1; v < t.parent.size(); ++v) ++edges[t.edge[v]];
  std::vector<unsigned char> valid;
  for (std::size_t b = 0; b < 256; ++b) {
    if (t.root_child[b] != no_node) valid.push_back(static_cast<unsigned char>(b));
  }
  std::stable_sort(valid.begin(), valid.end(),
                   [&](unsigned char x, unsigned char y) { return edges[x] > edges[y]; });
  if (first_class + valid.size() > 256) return false;  // a class is a byte
  t.byte_class = {};
  unsigned classes = first_class;
  for (unsigned char b : valid) t.byte_class[b] = static_cast<std::uint8_t>(classes++);
  unsigned shift = 6;  // rows of at least 64 entries: walk_side_by_side is made for 6 to 8
  while ((1u << shift) < classes) ++shift;
  const std::size_t n = t.parent.size();
  const std::size_t width = std::size_t{1} << shift;
  // With line ends, at least the start of a line and the carriage-return row
  // come after the trie's rows.
  const std::size_t rows_after = with_line_ends ? 2 : 0;
  if ((n + rows_after) * width > dense_table_limit) return false;
  std::vector<StartPrefix> prefixes;
  if (with_line_ends) {
    prefixes = start_prefixes(t, start, dense_table_limit / width - n - 1);
    if (prefixes.empty()) return false;
  }
  t.row_shift = shift;
  t.table.assign(n * width, slow_bit);
  for (std::size_t v = 1; v < n; ++v) {
    t.table[(std::size_t{t.parent[v]} << shift) + t.byte_class[t.edge[v]]] =
        static_cast<std::uint32_t>(v << shift);
  }
  if (with_line_ends) {
    t.byte_class['\n'] = static_cast<std::uint8_t>(newline_class);
    t.byte_class['\r'] = static_cast<std::uint8_t>(newline_class + 1);
    const auto line_start = static_cast<std::uint32_t>(n << shift);
    const auto carriage_return = static_cast<std::uint32_t>((n + prefixes.size()) << shift);
    t.table[newline_class] = line_start;
    t.table[newline_class + 1] = carriage_return;
    for (std::size_t v = 1; v < n; ++v) {
      if (!t.is_token[v]) continue;
      t.table[(v << shift) + newline_class] = fail_bit | line_start;
      t.table[(v << shift) + newline_class + 1] = fail_bit | carriage_return;
    }
  }
  for (std::size_t v = 1; v < n; ++v) {
    std::uint32_t* row = &t.table[v << shift];
    const std::uint32_t* fail_row = &t.table[std::size_t{t.fail[v]} << shift];
    for (std::size_t c = with_line_ends ? newline_class : 1; c < classes; ++c) {
      if (row[c] != slow_bit) continue;
      if ((fail_row[c] & (fail_bit | slow_bit)) == 0) row[c] = fail_bit | fail_row[c];
    }
  }
  if (with_line_ends) {
    add_line_start_rows(t, start, prefixes, first_class, classes, newline_class);
    for (std::size_t at = table_counters_at; at < t.table.size(); at += width) {
      std::fill_n(t.table.begin() + static_cast<std::ptrdiff_t>(at), counters, 0);
    }
  }
  // The table answers every child lookup now.
  t.first_child = {};
  t.next_sibling = {};
  return true;
}

}  // namespace

Tokenizer build_tokenizer(const PatternList& valid, const PatternList& recurrent, const StartMatcher& start,
                          TokenizerWalk walk) {
  const ByteSet valid_bytes = valid_byte_set(valid);
  DraftTrie draft;
  for (std::size_t b = 0; b < 256; ++b) {
    if (valid_bytes[b]) insert_token(draft, std::string(1, static_cast<char>(b)));
  }
  for (const std::string& pattern : recurrent) {
    if (check_string(pattern, valid_bytes)) insert_token(draft, pattern);
  }
  Tokenizer t;
  number_breadth_first(draft, t);
  draft = DraftTrie{};
  link_failures(t);
  // The first walk that applies and whose table fits.
  const bool built = walk == TokenizerWalk::lines_in_table && line_ends_can_be_walked(t, start) &&
                     build_dense_table(t, start, true);
  if (!built && walk != TokenizerWalk::sparse) build_dense_table(t, start, false);
  const std::size_t streams = t.table.empty() ? 1 : t.line_start_row != 0 ? line_stream_count : stream_count;
  const std::size_t rows = counted_rows(t);
  t.pop_count.assign(streams * rows, 0);
  t.end_count.assign(streams * rows, 0);
  return t;
}
