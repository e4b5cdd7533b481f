// How the ranks share the chunks of the corpus. Ranks take chunks one after
// another as they come free: rank 0 from a counter of its own, the others by
// asking rank 0, so a rank that is slower, or that also writes the messages,
// counts fewer. Each chunk's messages are numbered from the chunk's first
// line; rank 0 writes them in the order of the chunks, renumbered by the
// lines of the chunks before, as soon as those are known. With a message
// file, each rank writes its own chunks' messages there instead, where rank
// 0 places them (message_file.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "chunk_plan.h"
#include "message_file.h"
#include "output.h"
#include "patterntally.h"

// Rank 0: counts its chunks and writes the messages of all in order to
// `messages` on two threads of its own, while its main thread serves the
// other ranks of `ranks`; `written` follows the bytes of the corpus whose
// messages are written. Without those threads, which it says, the main
// thread counts and writes once it has served the others. The counts stay in
// `counter` until the caller sums them.
void count_chunks_on_rank_0(const ChunkPlan& plan, int ranks, LineReader& corpus, PatternCounter& counter,
                            unsigned threads, Output& messages, std::atomic<std::uint64_t>& written);

// The other ranks: ask rank 0 for chunks until there are none left, count
// them into `counter` and send rank 0 what they found. A rank that cannot
// open the corpus asks for none.
void ask_for_chunks(const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter, unsigned threads);

// Rank 0, with a message file: as count_chunks_on_rank_0, but the ranks keep
// their chunks' messages, and its main thread places each chunk in `file`
// in turn, after what `messages` (rank 0's own descriptor of that file)
// holds, and writes its own chunks there; `written` follows the bytes of
// the corpus counted. It reserves the room of each chunk before the chunk is
// written; when that fails, no rank writes any more and `file.error` tells
// why.
void count_chunks_on_rank_0_into_file(const ChunkPlan& plan, int ranks, LineReader& corpus,
                                      PatternCounter& counter, unsigned threads, const Output& messages,
                                      MessageFile& file, std::atomic<std::uint64_t>& written);

// The other ranks, with a message file: as ask_for_chunks, but each sends
// rank 0 only the line numbers of its chunks' messages, and writes the
// messages into `file` where rank 0 places them; it leaves once all are
// written.
void ask_for_chunks_into_file(const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter,
                              unsigned threads, MessageFile& file);
