// Splitting corpus text into tokens and counting them. At each position the
// token is the longest recurrent pattern that starts there, else the single
// byte when it is valid; an invalid byte is reported and skipped. Matching is
// greedy and never looks back.
//
// The tokens form a trie. Walking it byte by byte finds the longest match, but
// a plain walk re-reads bytes after a long partial match (with the patterns
// "a" and "aaab", the text "aaaa..." would be read three times). Instead each
// node v carries, as in linear-time maximal-munch tokenisers, a failure link:
// when the next byte cannot extend v, the greedy tokens of v's text are popped
// and the walk goes on from the node of what is left, `fail[v]`, without
// re-reading. The popped tokens depend on v alone, so the hot loop only counts
// how often each node popped; take_token_counts turns those counts into token
// counts once, deepest nodes first. Every byte costs one table lookup when the
// transition table fits in memory (see `dense_table_limit`), and amortized
// constant time otherwise.
//
// When no blank is valid and no start pattern holds one, the table walks the
// line ends too: a line feed leads to a row for the start of a line, and the
// rows below it follow the start patterns, so that a line begins without a
// branch on where the previous one ended (see `line_start_row`).
//
// Tested by tokenizer_test.cpp against a slow reference tokeniser.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output.h"
#include "pattern_file.h"
#include "start_patterns.h"

inline constexpr std::uint32_t no_node = 0xFFFFFFFF;

struct Tokenizer {
  // The trie of tokens, nodes numbered breadth first; node 0 is the root and
  // stands for the empty text. Per node:
  std::vector<std::uint32_t> parent;
  std::vector<std::uint8_t> edge;          // the byte from the parent
  std::vector<bool> is_token;              // the node's text is a token
  std::vector<std::uint32_t> first_child;  // children as sibling lists
  std::vector<std::uint32_t> next_sibling;
  std::array<std::uint32_t, 256> root_child{};  // no_node where none
  // Failure: when v cannot go on, its text is popped as tokens: a token node
  // pops itself; another node pops what its parent pops, then what each node
  // of `extra_pops` pops; the walk then resumes at `fail[v]`.
  std::vector<std::uint32_t> fail;
  std::vector<std::uint32_t> extra_begin;  // extra_pops of v: [extra_begin[v], extra_begin[v+1])
  std::vector<std::uint32_t> extra_pops;
  // Counters, one per row and stream (see count_block), row by row: how
  // often each node popped, and how many lines ended on it. Line-start rows
  // never pop and never end a line.
  std::vector<std::uint64_t> pop_count;
  std::vector<std::uint64_t> end_count;
  // Dense transitions, when they fit: one row of 2^row_shift entries per
  // node, indexed by byte class (class 0: invalid bytes). An entry holds the
  // row offset of the next node, `fail_bit` when the step first popped the
  // current node once, or `slow_bit` when the step needs the general loop.
  std::array<std::uint8_t, 256> byte_class{};
  unsigned row_shift = 0;
  std::vector<std::uint32_t> table;  // empty: use the sibling lists
  // Line ends in the table (0: lines are cut before they are walked). The
  // line feed then has a class of its own, and after the rows of the trie
  // come the line-start rows: first the start of a line, then one row for
  // each proper prefix of a start pattern read so far, holding its length in
  // `line_start_depth`. A start row goes on without a branch while the line
  // may still begin with a start pattern (up to a depth of 64 bytes), or when
  // what it has read is a path of the trie; in every other case the step is
  // slow and the line's start is read again by the general code.
  //
  // The walk with line ends counts the single pops of its fast steps in the
  // table itself, in `line_stream_count` entries of each row from
  // `table_counters_at`, which no byte class reaches: 32 bits each, moved to
  // pop_count before they could overflow (see `fold_table_counts`).
  std::uint32_t line_start_row = 0;
  // After the line-start rows, the row of a carriage return met where the
  // line could end, once what came before it is popped: a line feed then
  // starts the next line, and any other byte makes the step slow. It stands
  // last in `line_start_depth`, with depth 0.
  std::uint32_t carriage_return_row = 0;
  std::vector<std::uint32_t> line_start_depth;  // of row line_start_row + (i << row_shift)
  std::uint64_t unfolded_rounds = 0;            // at least the bytes any walk took since the last fold
};

inline constexpr std::size_t table_counters_at = 1;
inline constexpr std::uint32_t fail_bit = 0x80000000;
inline constexpr std::uint32_t slow_bit = 0x40000000;
inline constexpr std::uint32_t row_mask = 0x3FFFFFFF;

// The dense table is built when it has at most this many entries (8 MiB):
// some 32,000 nodes when few bytes are valid, enough for ten thousand
// recurrent patterns, while memory stays a few MiB above the definitions.
inline constexpr std::size_t dense_table_limit = std::size_t{2} << 20;

// How many parts of a block are walked side by side: by the walk that cuts
// lines first (written out for four), and by the walk with line ends in the
// table, which keeps less per part.
inline constexpr std::size_t stream_count = 4;
inline constexpr std::size_t line_stream_count = 8;

// The child of `node` on `byte`, or no_node.
inline std::uint32_t child_of(const Tokenizer& t, std::uint32_t node, unsigned char byte) {
  if (t.root_child[byte] == no_node) return no_node;  // not valid: the table's line ends are no children
  if (!t.table.empty()) {
    const std::uint32_t entry = t.table[(std::size_t{node} << t.row_shift) + t.byte_class[byte]];
    return (entry & (fail_bit | slow_bit)) != 0 ? no_node : entry >> t.row_shift;
  }
  if (node == 0) return t.root_child[byte];
  for (std::uint32_t c = t.first_child[node]; c != no_node; c = t.next_sibling[c]) {
    if (t.edge[c] == byte) return c;
  }
  return no_node;
}

// The text of `node`, read up its parents in time proportional to its depth.
// The trie keeps no text per node: the nodes of a long pattern would hold its
// length squared.
std::string text_of(const Tokenizer& t, std::uint32_t node);

// Rows of counters: the trie's nodes, then the line-start rows.
inline std::size_t counted_rows(const Tokenizer& t) { return t.parent.size() + t.line_start_depth.size(); }

// Which of the walks build_tokenizer prepares. They count the same; the first
// that applies is the fastest.
enum class TokenizerWalk {
  lines_in_table,  // the dense table with line ends, when it fits and applies
  dense,           // the dense table, lines cut first, when it fits
  sparse,          // the sibling lists
};

// Builds the tokeniser for the valid bytes of `valid` and the recurrent
// patterns, which must consist of valid bytes, as the definition reader makes
// sure whenever there are valid bytes. With none, no pattern can ever match,
// since the first byte of every token would be reported, and all are left out.
// `start` must be the matcher that count_block is given.
Tokenizer build_tokenizer(const PatternList& valid, const PatternList& recurrent, const StartMatcher& start,
                          TokenizerWalk walk = TokenizerWalk::lines_in_table);

// An invalid byte, reported in a message that quotes its line.
struct InvalidByte {
  std::uint64_t line;  // within the range counted, from 1
  unsigned char byte;
  std::string_view trimmed_line;  // within the range counted
};

// What counting a range of whole lines gives besides the token counts, which
// stay in the tokeniser (see take_token_counts): its number of lines and its
// invalid bytes, in line order. Counting consecutive ranges gives exactly what
// one run over them together gives, once the line numbers of each range are
// moved on by the lines of the ranges before it.
struct RangeCount {
  std::uint64_t lines = 0;
  std::vector<InvalidByte> invalid_bytes;
};

// Tokenises and counts every line of `block`, a range of whole lines: lines
// end at line feeds, and a last line without one counts too (an empty block
// holds no line). Each line is trimmed and loses its longest start pattern
// first.
//
// With the dense table, the range is cut at line ends into `stream_count` or
// `line_stream_count` parts that are walked side by side, one byte of each in
// turn: the walks do not depend on each other, so the processor overlaps
// their table lookups.
// `start` is the matcher the tokeniser was built with.
RangeCount count_range(Tokenizer& t, const StartMatcher& start, std::string_view block);

// Writes the message of each invalid byte of a range whose first line is
// `first_line_number`.
void write_invalid_byte_messages(Output& messages, const std::vector<InvalidByte>& invalid_bytes,
                                 std::uint64_t first_line_number);

// The number of line feeds in [begin, end), sixteen bytes at a time.
std::uint64_t count_line_feeds(const char* begin, const char* end);

// count_range, then its messages: returns the number of lines.
std::uint64_t count_block(Tokenizer& t, const StartMatcher& start, std::string_view block,
                          std::uint64_t first_line_number, Output& messages);

// The count of every token counted since the last call, as (token, count)
// pairs with counts above 0, in no particular order; resets the counters.
std::vector<std::pair<std::string, std::uint64_t>> take_token_counts(Tokenizer& t);
