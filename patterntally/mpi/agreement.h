// What the ranks agree on before they count: that each read the definition
// lists rank 0 read, and rank 0's plan of the chunks. The run counts only
// when every rank read the same lists, so that each has the same patterns in
// the same order and their counts can be summed entry by entry.
#pragma once

#include "chunk_plan.h"
#include "patterntally.h"

// Gathers a digest of every rank's `definitions` on rank 0, which reports
// each rank whose lists are not its own, and whether any rank found an input
// it could not read (that rank has said so). True on rank 0 when all agree
// and read what they read; the other ranks learn it from the plan.
bool same_definitions(const Definitions& definitions, bool unreadable, int rank, int ranks);

// Rank 0's `plan`, sent to every rank; each returns it.
ChunkPlan share_plan(const ChunkPlan& plan);
