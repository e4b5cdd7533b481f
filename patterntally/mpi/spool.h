// Where a rank keeps the messages of the chunks it counted until they are
// written: a file without a name that grows at its end, in $TMPDIR, else in
// /tmp, else in the working directory. Messages are read back from it in
// pieces, renumbered by the lines of the chunks before.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "output.h"

// The bytes of messages moved at a time, between ranks and from a spool.
inline constexpr std::size_t piece_size = std::size_t{1} << 20;

// A file of messages that grows at its end, without a name, in the first
// directory that takes one; when none does, `out` has failed and that was
// reported. Its failures name its directory.
struct Spool {
  Output out = memory_output();

  Spool();
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  // Flushes `out`; the offset where the next bytes will go.
  std::uint64_t end();
};

// Where a chunk's messages are kept: `size` bytes from `offset` of the file
// `fd`, in the directory `where`.
struct SpooledMessages {
  int fd = -1;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::string_view where;
};

// Hands each message kept in `kept`, without its line feed, to `line`; a
// read failure is reported and ends them, and makes it return false.
bool for_each_spooled_line(const SpooledMessages& kept, const std::function<void(std::string_view)>& line);

// Hands the messages kept in `kept` to `put`, in pieces of about
// `piece_size` bytes, their line numbers raised by `lines_before`; false on
// a read failure, as above.
bool renumber_spooled(const SpooledMessages& kept, std::uint64_t lines_before,
                      const std::function<void(std::string_view)>& put);

// The same, written to `out`.
void write_spooled(const SpooledMessages& kept, std::uint64_t lines_before, Output& out);

// Gives the room on disk of messages already written back to the file
// system, where it can take it.
void release_spooled(const SpooledMessages& kept);
