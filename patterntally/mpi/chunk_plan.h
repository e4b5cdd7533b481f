// How the corpus is cut into chunks for the ranks. The corpus is cut into
// chunks of `chunk_length` bytes, shorter ones at its end; a chunk holds the
// lines that begin in it. Rank 0 makes the plan and every rank follows it.
#pragma once

#include <cstdint>

#include "line_reader.h"

// What rank 0 decides for all: whether to count at all, the corpus's size,
// and the chunks: of `chunk_length` bytes up to `short_from`, then of
// `short_length`. No chunks (`chunk_length` 0) when the corpus is no regular
// file, or is counted whole: rank 0 then counts it alone.
struct ChunkPlan {
  std::uint64_t count = 1;  // 0: the ranks read other definitions, and nothing is counted
  std::uint64_t size = 0;
  std::uint64_t chunk_length = 0;
  std::uint64_t short_from = 0;  // a multiple of `chunk_length`, at most `size`
  std::uint64_t short_length = 0;

  std::uint64_t chunks() const;
  // Where chunk `k` begins; `size` past the last.
  std::uint64_t begin(std::uint64_t k) const;
};

// The plan for `ranks` ranks of `threads` threads each: about sixteen chunks
// a rank, none too small for the threads of a rank to share, the last rank's
// share or so cut into chunks of a quarter of that length. No chunks when
// `corpus` is not open or no regular file, nor when it is to be counted
// `whole` (its size is still given, for the progress).
ChunkPlan plan_chunks(const LineReader& corpus, int ranks, unsigned threads, bool whole = false);

// The first byte in [from, to) where a line begins, reading `fd`: one that
// follows a line feed, or the first of the file. `to` when none does;
// `unreadable_offset` on a read error, which is reported.
inline constexpr std::uint64_t unreadable_offset = UINT64_MAX;
std::uint64_t line_start_in(int fd, std::uint64_t from, std::uint64_t to);
