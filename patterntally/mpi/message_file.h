// The messages written by every rank into one file (--messages=FILE), rather
// than all through rank 0 and standard output. Each rank keeps the messages
// of the chunks it counts in a spool of its own, numbered from each chunk's
// first line, and sends rank 0 the line numbers they carry. From those rank
// 0 knows, for each chunk in turn once the chunks before it are counted, the
// lines before it and so the size of its messages renumbered, and places it:
// after what rank 0 wrote at the head of the file (the messages of the
// definition files), the chunks in order. The rank that counted a chunk
// writes its messages at that place, through MPI-IO, into the temporary that
// rank 0 created for FILE, while the others still count; at the end each
// rank syncs what it wrote, and rank 0 renames the temporary over FILE, with
// the reports, once every rank has succeeded.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "spool.h"

// The line numbers of a chunk's messages, as its spool holds them, and the
// bytes of the messages besides their numbers.
struct MessageNumbers {
  std::uint64_t rest = 0;
  std::vector<std::uint32_t> numbers;
};

// Reads the messages of `kept` back; a read failure is reported, and the
// numbers end there.
MessageNumbers numbers_of(const SpooledMessages& kept);

// The size of those messages with their line numbers raised by
// `lines_before`.
std::uint64_t renumbered_size(const MessageNumbers& messages, std::uint64_t lines_before);

// Rank 0's `path`, the file the ranks write the messages into, sent to every
// rank; each returns it. "" (rank 0 sends it when the file is no regular
// one, or the corpus is not cut into chunks) leaves the messages to rank 0.
std::string share_message_file(const std::string& path);

// A rank's hold of the message file, open on its own (MPI_COMM_SELF): a
// rank whose open fails must not keep the others waiting in a collective
// call. The first failure is kept in `error` (an errno value), and nothing
// more is written after it.
struct MessageFile {
  MPI_File file = MPI_FILE_NULL;
  int error = 0;
};

// Opens `path` for writing on this rank.
MessageFile open_message_file(const std::string& path);

// Writes the messages of `kept` at `offset` of `file`, renumbered by
// `lines_before`.
void write_messages_at(MessageFile& file, const SpooledMessages& kept, std::uint64_t offset,
                       std::uint64_t lines_before);

// Syncs and closes `file`; returns the worst error of every rank, on every
// rank (collective).
int finish_message_file(MessageFile& file);

// Rank 0 gives `size` bytes from `offset` of the file `fd` their room on
// disk before a rank writes there, so that a full file system is found once,
// here. 0, or an errno value; a file system that cannot reserve room leaves
// it to the writes.
int reserve(int fd, std::uint64_t offset, std::uint64_t size);
