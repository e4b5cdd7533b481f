// What every way of sharing the chunks has in common (see protocol.h): the
// tags of the messages between the ranks, and counting one chunk with its
// messages kept in a spool.
#pragma once

#include <cstdint>
#include <vector>

#include "chunk_plan.h"
#include "patterntally.h"
#include "spool.h"

// A rank's result, sent to rank 0 with the tag `result_tag`: the chunk, the
// lines it held, the bytes of the corpus it covered, the bytes of its
// messages, which follow in pieces with the tag `piece_tag`. A result without
// a chunk (`no_chunk`) asks for one more; with `done_asking` it asks for none.
// Rank 0 answers each with the chunk to count next, or `no_chunk`.
inline constexpr int result_tag = 1;
inline constexpr int piece_tag = 2;
inline constexpr int chunk_tag = 3;
// With a message file, a result holds a fifth number, how many line numbers
// of messages follow with the tag `numbers_tag`; its fourth is the bytes of
// its messages besides their numbers. Rank 0 sends each chunk's place (the
// chunk, the offset, the lines before it) with the tag `place_tag`, the
// offset `no_place` when nothing is to be written any more.
inline constexpr int numbers_tag = 4;
inline constexpr int place_tag = 5;
inline constexpr std::uint64_t no_place = UINT64_MAX;
inline constexpr std::uint64_t no_chunk = UINT64_MAX;
inline constexpr std::uint64_t done_asking = 1;

// One chunk counted: the lines it holds and where its messages are kept;
// the bytes it covers, for the progress.
struct ChunkDone {
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  SpooledMessages messages;
};

// Whether this rank holds the corpus open, to count chunks of it: when its
// first open failed, though rank 0 read the corpus, it opens it once more,
// and a failure is reported.
bool corpus_open_here(LineReader& corpus);

// Counts chunk `k`, its messages at the end of `spool`. The counts stay in
// the tokeniser and in the threads' copies of it, kept in `copies` for the
// next chunk, until add_token_counts.
ChunkDone count_chunk(std::uint64_t k, const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter,
                      unsigned threads, Spool& spool, std::vector<Tokenizer>& copies);
