// The automaton behind the tokeniser, private to tokenizer/: the trie of
// tokens, its failure links and pops, the dense transition table, and what
// the walks keep in it. automaton.cpp and dense_table.cpp build it; each walk
// reads it in a file of its own.
//
// The tokens form a trie. Walking it byte by byte finds the longest match, but
// a plain walk re-reads bytes after a long partial match (with the patterns
// "a" and "aaab", the text "aaaa..." would be read three times). Instead each
// node v carries, as in linear-time maximal-munch tokenisers, a failure link:
// when the next byte cannot extend v, the greedy tokens of v's text are popped
// and the walk goes on from the node of what is left, `fail[v]`, without
// re-reading. The popped tokens depend on v alone, so a walk only notes which
// node popped: counting adds one to the node's counter and takes the tokens
// out once at the end, writing copies what the node's tokens write, kept per
// node. Every byte costs one table lookup when the transition table fits in
// memory (see `dense_table_limit`), and amortized constant time otherwise.
//
// When no blank is valid and no start pattern holds one, the table walks the
// line ends too: a line feed leads to a row for the start of a line, and the
// rows below it follow the start patterns, so that a line begins without a
// branch on where the previous one ended (see `line_start_row`).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "start_patterns.h"
#include "tokenizer.h"

inline constexpr std::uint32_t no_node = 0xFFFFFFFF;

// What writing lines keeps per node (see node_bytes.cpp): the bytes that
// popping the node writes, when they are kept.
struct NodeBytes {
  std::string bytes;  // every node's kept bytes, then copy_width zero bytes
  // Per node, where its bytes stand in `bytes` in the low half of the word,
  // and their length in the high one; 0 when they are not kept (always so
  // for a token without bytes).
  std::vector<std::uint64_t> pops;
  std::uint32_t longest_token = 0;  // the most that popping one token writes
  std::size_t trail = 0;            // bytes a line's last token leaves out
};

// Kept bytes are copied this many at a time, whatever their length:
// NodeBytes::bytes has as many after its last, and the writer as many after
// what it has written.
inline constexpr std::size_t copy_width = 32;

inline std::uint32_t pop_begin(const NodeBytes& w, std::uint32_t v) {
  return static_cast<std::uint32_t>(w.pops[v]);
}
inline std::uint32_t pop_size(const NodeBytes& w, std::uint32_t v) {
  return static_cast<std::uint32_t>(w.pops[v] >> 32);
}

struct Automaton {
  StartMatcher start;  // a line loses the longest of these first
  // The trie of tokens, nodes numbered breadth first; node 0 is the root and
  // stands for the empty text. Per node:
  std::vector<std::uint32_t> parent;
  std::vector<std::uint8_t> edge;          // the byte from the parent
  std::vector<std::uint32_t> first_child;  // children as sibling lists
  std::vector<std::uint32_t> next_sibling;
  std::array<std::uint32_t, 256> root_child{};  // no_node where none
  // Token ids number the token nodes in node order.
  std::vector<std::uint32_t> token_of;    // per node: its token id, or no_token
  std::vector<std::uint32_t> token_node;  // per token id
  // Failure: when v cannot go on, its text is popped as tokens: a token node
  // pops itself; another node pops what its parent pops, then what each node
  // of `extra_pops` pops; the walk then resumes at `fail[v]`.
  std::vector<std::uint32_t> fail;
  std::vector<std::uint32_t> extra_begin;  // extra_pops of v: [extra_begin[v], extra_begin[v+1])
  std::vector<std::uint32_t> extra_pops;
  // Counters, made when the tokeniser first counts: one per row and part
  // walked side by side, row by row; how often each node popped, and how
  // many lines ended on it. Line-start rows never pop and never end a line;
  // the first one's counters count the lines whose first byte it read in a
  // fast step (see `line_start_row`).
  std::vector<std::uint64_t> pop_count;
  std::vector<std::uint64_t> end_count;
  // Dense transitions, when they fit: one row of 2^row_shift entries per
  // node, indexed by byte class (class 0: invalid bytes). An entry holds the
  // row offset of the next node, `fail_bit` when the step first popped the
  // current node once, or `slow_bit` when the step needs the general rule.
  std::array<std::uint8_t, 256> byte_class{};
  unsigned row_shift = 0;
  std::vector<std::uint32_t> table;  // empty: use the sibling lists or the short table
  // With line ends, the table has entries of 16 bits instead, half the bytes
  // to keep in the caches: the next node's number (not its row offset),
  // `short_fail_bit` when the step popped the current node once, or
  // `short_slow` alone when the step needs the general rule. Either table is
  // built, never both.
  std::vector<std::uint16_t> short_table;
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
  // table itself, in `parts_side_by_side_in_table` counters of 32 bits, two
  // entries each, in each row from `table_counters_at`, which no byte class
  // reaches; they are moved to pop_count before they could overflow (see
  // `fold_table_counts`). The fast steps from the start of a line carry the
  // pop bit, though they pop nothing: so the walk counts the lines it begins
  // in the start row's counters, as it counts pops, and never looks for a
  // line feed.
  std::uint32_t line_start_row = 0;
  // After the line-start rows, the row of a carriage return met where the
  // line could end, once what came before it is popped: a line feed then
  // starts the next line, and any other byte makes the step slow. It stands
  // last in `line_start_depth`, with depth 0.
  std::uint32_t carriage_return_row = 0;
  std::vector<std::uint32_t> line_start_depth;  // of row line_start_row + (i << row_shift)
  std::uint64_t unfolded_rounds = 0;            // at least the bytes any walk took since the last fold
  NodeBytes written;                            // empty until prepare_writing
};

inline constexpr std::uint32_t fail_bit = 0x80000000;
inline constexpr std::uint32_t slow_bit = 0x40000000;
inline constexpr std::uint32_t row_mask = 0x3FFFFFFF;

// The entries of the short table. Nodes are numbered up to short_slow - 1, so
// a table with line ends holds at most short_slow rows; with more it is not
// built.
inline constexpr std::uint16_t short_fail_bit = 0x8000;
inline constexpr std::uint16_t short_slow = 0x7FFF;
inline constexpr std::size_t short_table_rows = short_slow;

// Where the counters of a row in the short table start: at a multiple of 4
// bytes, after the invalid bytes' class and one unused entry.
inline constexpr std::size_t table_counters_at = 2;

// The dense table is built when it has at most this many entries (8 MiB):
// some 32,000 nodes when few bytes are valid, enough for ten thousand
// recurrent patterns, while memory stays a few MiB above the definitions.
inline constexpr std::size_t dense_table_limit = std::size_t{2} << 20;

// How many parts of a block are walked side by side: by the walks over lines
// cut first (written out for four), and by the walk with line ends in the
// table, which keeps less per part.
inline constexpr std::size_t parts_side_by_side = 4;
inline constexpr std::size_t parts_side_by_side_in_table = 8;

inline bool is_token(const Automaton& a, std::uint32_t node) { return a.token_of[node] != no_token; }

// The id of token node `node`.
inline std::uint32_t token_id(const Automaton& a, std::uint32_t node) { return a.token_of[node]; }

// Whether the dense table walks a line of text, one lookup a byte: it is
// built, and for lines cut first.
inline bool walks_lines_apart(const Automaton& a) { return !a.table.empty(); }

// Whether a dense table, either one, is built.
inline bool has_table(const Automaton& a) { return !a.table.empty() || !a.short_table.empty(); }

// The child of `node` on `byte`, or no_node.
inline std::uint32_t child_of(const Automaton& a, std::uint32_t node, unsigned char byte) {
  if (a.root_child[byte] == no_node) return no_node;  // not valid: the table's line ends are no children
  if (!a.short_table.empty()) {
    const std::uint16_t entry = a.short_table[(std::size_t{node} << a.row_shift) + a.byte_class[byte]];
    return (entry & short_fail_bit) != 0 || entry == short_slow ? no_node : entry;
  }
  if (!a.table.empty()) {
    const std::uint32_t entry = a.table[(std::size_t{node} << a.row_shift) + a.byte_class[byte]];
    return (entry & (fail_bit | slow_bit)) != 0 ? no_node : entry >> a.row_shift;
  }
  if (node == 0) return a.root_child[byte];
  for (std::uint32_t c = a.first_child[node]; c != no_node; c = a.next_sibling[c]) {
    if (a.edge[c] == byte) return c;
  }
  return no_node;
}

// The text of `node`, read up its parents in time proportional to its depth.
// The trie keeps no text per node: the nodes of a long pattern would hold its
// length squared.
std::string text_of(const Automaton& a, std::uint32_t node);

// Rows of counters: the trie's nodes, then the line-start rows.
inline std::size_t counted_rows(const Automaton& a) { return a.parent.size() + a.line_start_depth.size(); }

// Builds the dense table of the trie and its failure links, with line ends
// or without; false, with no table, when it does not fit (with line ends:
// when its line-start rows do not either).
bool build_dense_table(Automaton& a, bool with_line_ends);
