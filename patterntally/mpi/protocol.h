// How the ranks share the chunks of the corpus. Ranks take chunks one after
// another as they come free: rank 0 from a counter of its own, the others by
// asking rank 0, so a rank that is slower, or that also writes the messages,
// counts fewer. Each chunk's messages are numbered from the chunk's first
// line; rank 0 writes them in the order of the chunks, renumbered by the
// lines of the chunks before, as soon as those are known, unless each rank
// writes its own into the message file (message_file.h).
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
// `counter` until the caller sums them. With `kept`, every rank keeps the
// messages of its chunks there (see message_file.h), nothing is written, and
// `written` follows the bytes counted.
void count_chunks_on_rank_0(const ChunkPlan& plan, int ranks, LineReader& corpus, PatternCounter& counter,
                            unsigned threads, Output& messages, std::atomic<std::uint64_t>& written,
                            KeptMessages* kept = nullptr);

// The other ranks: ask rank 0 for chunks until there are none left, count
// them into `counter` and send rank 0 what they found. A rank that cannot
// open the corpus asks for none. With `kept`, the messages stay there, and
// rank 0 is sent none.
void ask_for_chunks(const ChunkPlan& plan, LineReader& corpus, PatternCounter& counter, unsigned threads,
                    KeptMessages* kept = nullptr);
