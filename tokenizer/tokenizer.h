// The tokeniser: splits corpus lines into tokens. A line is trimmed and loses
// its longest start pattern first; then at each position the token is the
// longest recurrent pattern that starts there, else the single byte when it
// is valid, and an invalid byte is reported and skipped. Matching is greedy
// and never looks back, and costs one table lookup a byte when the
// definitions are a few thousand patterns (amortized constant time in any
// case).
//
// It counts the tokens of blocks of whole lines (patterntally), gives the
// tokens of a line one by one (varicode report, suggest), and writes for each
// line the bytes that its caller gave each token (varicode encode). Tokens are
// numbered by ids from 0 to token_count() - 1, shorter texts first.
//
// How it works is private to tokenizer/: src/automaton.h tells of the
// automaton, and each walk opens with its own essay. Tested by
// tokenizer_test.cpp against a slow reference tokeniser.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pattern_file.h"

struct Automaton;

// A tokeniser as build_tokenizer makes it (a default one is empty, to be
// assigned). A copy counts apart from its original: give each thread its own.
struct Tokenizer {
  Tokenizer();
  explicit Tokenizer(std::unique_ptr<Automaton> built);
  Tokenizer(const Tokenizer& other);
  Tokenizer& operator=(const Tokenizer& other);
  Tokenizer(Tokenizer&& other) noexcept;
  Tokenizer& operator=(Tokenizer&& other) noexcept;
  ~Tokenizer();

  std::unique_ptr<Automaton> automaton;
};

// The walks a tokeniser may take over a block of lines. They count the same;
// the first that applies is the fastest.
enum class TokenizerWalk {
  lines_in_table,  // the dense table with line ends, when it fits and no blank is valid or in a start pattern
  dense,           // the dense table, lines cut first, when it fits
  sparse,          // the trie's sibling lists
};

// Builds the tokeniser for the valid bytes of `valid`, the recurrent
// patterns and the start patterns. The patterns must consist of valid bytes,
// as the definition reader makes sure whenever there are valid bytes. With
// none, no pattern can ever match, since the first byte of every token would
// be reported, and all are left out. It takes the first of the walks from
// `walk` on that applies and fits.
Tokenizer build_tokenizer(const PatternList& valid, const PatternList& recurrent, const PatternList& start,
                          TokenizerWalk walk = TokenizerWalk::lines_in_table);

// The walk that `t` takes.
TokenizerWalk walk_of(const Tokenizer& t);

// What a tokeniser takes, for measurements: the nodes of its trie, and the
// bytes of its dense table (0: none).
struct TokenizerSize {
  std::size_t nodes = 0;
  std::size_t table_bytes = 0;
};
TokenizerSize size_of(const Tokenizer& t);

// The number of token ids: every valid byte and every recurrent pattern made
// of valid bytes.
std::uint32_t token_count(const Tokenizer& t);

// The text of a token, made on demand in time proportional to its length.
std::string token_text(const Tokenizer& t, std::uint32_t token);

// What is tokenised of a line once it is trimmed (see trim_view): `trimmed`
// without its longest start pattern.
std::string_view without_start_pattern(const Tokenizer& t, std::string_view trimmed);

// Where `lines` is cut to give the `part`th of `parts` runs of whole lines of
// about the same size: just after the first line feed at or after that share
// of its bytes (but not before `from`, where the run begins), or its end.
inline std::size_t cut_after_line_feed(std::string_view lines, std::size_t from, std::size_t part,
                                       std::size_t parts) {
  if (part + 1 >= parts) return lines.size();
  const std::size_t lf = lines.find('\n', std::max(from, lines.size() * (part + 1) / parts));
  return lf == std::string_view::npos ? lines.size() : lf + 1;
}

// ---- Counting

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
// holds no line). The range is cut at line ends into parts that are walked
// side by side, one byte of each in turn: the walks do not depend on each
// other, so the processor overlaps their table lookups.
RangeCount count_range(Tokenizer& t, std::string_view block);

// The count of every token counted since the last call, as (token, count)
// pairs with counts above 0, in no particular order; resets the counters.
std::vector<std::pair<std::string, std::uint64_t>> take_token_counts(Tokenizer& t);

// ---- The tokens of a line

inline constexpr std::uint32_t no_token = 0xFFFFFFFF;

// What the walk of a line met, in text order: a token, or (no_token) an
// invalid byte that it skipped, at `offset` in the text.
struct LineStep {
  std::uint32_t token;
  std::size_t offset;
};

// Takes the steps of a line a batch at a time: `take(context, steps, count)`.
struct LineStepSink {
  void* context;
  void (*take)(void* context, const LineStep* steps, std::size_t count);
};

// Walks `text`, a line already trimmed and without its start pattern (see
// without_start_pattern), and hands its steps to `sink` in order, in batches.
void walk_line_steps(const Tokenizer& t, std::string_view text, LineStepSink sink);

// Calls `token(id)` for each token of `text` (as walk_line_steps takes it) in
// order, and `invalid(offset)` for each invalid byte, at its offset in `text`,
// between the tokens before and after it.
template <typename Token, typename Invalid>
void walk_tokens(const Tokenizer& t, std::string_view text, Token&& token, Invalid&& invalid) {
  auto take = [&](const LineStep* steps, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (steps[i].token != no_token) {
        token(steps[i].token);
      } else {
        invalid(steps[i].offset);
      }
    }
  };
  walk_line_steps(t, text, {&take, [](void* context, const LineStep* steps, std::size_t count) {
                              (*static_cast<decltype(take)*>(context))(steps, count);
                            }});
}

// ---- Writing lines

// Makes `t` write lines: a line's output is the bytes of its tokens, one
// after the other, `bytes[id]` for token id (one entry per id), less the
// last `trail` bytes of the last (varicode gives each token its code word and
// "00", with a trail of 2). A token without bytes (nullopt) makes the line
// write nothing. Each token's bytes must be longer than `trail`. The tokeniser still counts and
// walks tokens as before.
void prepare_writing(Tokenizer& t, const std::vector<std::optional<std::string>>& bytes, std::size_t trail);

// What a line held that it could not write, in line order: an invalid byte
// (skipped), or a token without bytes (the line then writes nothing).
struct Unwritten {
  bool token = false;  // a token without bytes; else an invalid byte
  std::string text;    // the token's text, or the byte
};

// Appends the output of `line`, a line as read, to `out`, without a line
// feed. Returns false, appending nothing, when a token has no bytes; what
// could not be written goes to `unwritten`. `t` must be prepared for writing.
bool write_line(const Tokenizer& t, std::string_view line, std::string& out,
                std::vector<Unwritten>& unwritten);

// The output of a run of lines, as write_lines gives it.
struct WrittenLines {
  std::string_view bytes;         // each line's output (nothing when it has none) and a line feed
  std::vector<std::size_t> ends;  // per line: where its line feed ends in `bytes`
  std::vector<std::pair<std::size_t, Unwritten>> unwritten;  // in line order: a line (its index in
                                                             // the run) and what it could not write
  std::uint64_t lost_start = 0;                              // lines that lost a start pattern
};

// Writes `lines`, whole lines that end at line feeds (the last may lack one),
// each as write_line does, several side by side: calls `take` for runs of
// them, in order. What `take` is given stays valid until the next call of
// write_lines on the same thread.
void write_lines(const Tokenizer& t, std::string_view lines,
                 const std::function<void(const WrittenLines&)>& take);
