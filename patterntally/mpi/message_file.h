// The messages written by every rank into one file (--messages=FILE), rather
// than all through rank 0 and standard output. Each rank keeps the messages
// of the chunks it counts in a spool of its own, numbered from each chunk's
// first line. Once every chunk is counted, the ranks learn the lines of each
// chunk, and from them the size of each chunk's messages renumbered, so that
// each chunk's place in the file is the sum of the sizes before it: after
// what rank 0 wrote at the head (the messages of the definition files), the
// chunks in order. Each rank then writes its own chunks there through MPI-IO,
// into the temporary that rank 0 created for FILE, and syncs them; rank 0
// renames the temporary over FILE, with the reports, once every rank has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spool.h"

// A chunk a rank counted, and where its messages wait.
struct KeptChunk {
  std::uint64_t chunk = 0;
  std::uint64_t lines = 0;
  SpooledMessages messages;
};

// The messages of every chunk a rank counted, kept until they are written.
struct KeptMessages {
  Spool spool;
  std::vector<KeptChunk> chunks;
};

// Rank 0's `path`, the file the ranks write the messages into, sent to every
// rank; each returns it. "" (rank 0 sends it when the file is no regular
// one, or the corpus is not cut into chunks) leaves the messages to rank 0.
std::string share_message_file(const std::string& path);

// Every rank: writes the messages of the chunks of `kept` at their places in
// `path`, after the `head` bytes rank 0 wrote there (rank 0's value counts),
// of `chunks` chunks in all, and syncs them. Returns 0 when every rank wrote
// and synced its part, else an errno value for a write that failed, the same
// on every rank. A spool that cannot be read is reported by its rank, whose
// status that turns to 1.
int write_message_file(const std::string& path, std::uint64_t head, const KeptMessages& kept,
                       std::uint64_t chunks);
