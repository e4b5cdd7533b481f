// Reading a file line by line in large blocks. A line ends at a line feed,
// which is not part of it; a last line without a line feed is a line too, and
// the end of the file after a final line feed is not a further line. Bytes are
// returned exactly as stored: a CR before the line feed stays in the line.
// Memory is one block plus the longest line, whatever the size of the file:
// the buffer grows in place where the system can (a long line is not copied
// into a buffer twice its size), and running out of memory ends the program
// (see fail_out_of_memory).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// Bytes from malloc, so that growing them can keep them where they are.
struct FreeBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};

struct ReadBuffer {
  std::unique_ptr<char, FreeBytes> bytes;
  std::size_t size = 0;
  char* data() const { return bytes.get(); }
};

// Makes `buffer` hold at least `size` bytes, keeping those it holds.
void reserve_bytes(ReadBuffer& buffer, std::size_t size);

struct LineReader {
  std::FILE* file = nullptr;  // null: the file reads as empty
  std::string name;
  ReadBuffer buffer;
  std::size_t begin = 0;  // the unread bytes are buffer[begin, end)
  std::size_t end = 0;
  bool at_end = false;              // nothing more will come from the file
  std::uint64_t left = UINT64_MAX;  // bytes still to read (see read_only)
  bool standard_input = false;      // `file` is stdin, which is not closed
  bool unreadable = false;          // nothing of the file could be read (see open_lines)
  bool read_any = false;            // a read gave bytes
};

// The size of one read; lines longer than this grow the buffer.
inline constexpr std::size_t line_block_size = 1 << 18;

// Opens `name` for reading. A file that does not exist reads as empty, with
// a note on standard error, or is reported as a failure (see output.h) when
// `report_missing` is set. Any other file that cannot be opened, a directory,
// or one whose first read fails is reported and marked `unreadable`: it reads
// as empty, and the run is to stop before it replaces anything (see
// input_unreadable).
LineReader open_lines(const std::string& name, bool report_missing = false);

// Whether any reader of the program was marked `unreadable`.
bool input_unreadable();

// Reads standard input, named `name` in failure lines; closing it leaves
// descriptor 0 open.
LineReader standard_input_lines(const std::string& name);

// Reads more of the file into the buffer; false when nothing more came. A read
// error is reported (see output.h) and then ends the input like end of file;
// what was read before stands.
bool refill_lines(LineReader& reader);

// At the end of the input: sets `rest` to what is left unread, a last line
// without a line feed, and returns true, or returns false when nothing is left.
inline bool take_rest(LineReader& reader, std::string_view& rest) {
  if (reader.begin == reader.end) return false;
  rest = std::string_view(reader.buffer.data() + reader.begin, reader.end - reader.begin);
  reader.begin = reader.end;
  return true;
}

// Sets `line` to the next line and returns true, or returns false at the end
// of the input. `line` stays valid until the next call.
inline bool next_line(LineReader& reader, std::string_view& line) {
  std::size_t searched = 0;  // unread bytes known to hold no line feed
  for (;;) {
    const char* data = reader.buffer.data();
    const std::size_t unread = reader.end - reader.begin;
    if (unread > searched) {
      const void* lf = std::memchr(data + reader.begin + searched, '\n', unread - searched);
      if (lf != nullptr) {
        const std::size_t lf_at = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
        line = std::string_view(data + reader.begin, lf_at - reader.begin);
        reader.begin = lf_at + 1;
        return true;
      }
      searched = unread;  // a refill keeps these bytes first
    }
    if (!refill_lines(reader)) return take_rest(reader, line);
  }
}

// Sets `block` to the next run of whole lines, each with its line feed,
// except that the last line of the input may lack one; returns false at the
// end of the input. Mixes freely with next_line. `block` stays valid until the
// next call.
bool next_block(LineReader& reader, std::string_view& block);

// Makes `reader` read only the `size` bytes of its file from `offset` on,
// dropping what it holds unread: it may read one range after another. False,
// with nothing to read, when the file cannot be positioned there.
bool read_only(LineReader& reader, std::uint64_t offset, std::uint64_t size);

// Reads up to `size` bytes of the file into `bytes`, as much as `reader` is
// still to read; the number read, 0 at the end. A read error is kept in
// `error` (an errno value) and ends the input; before any byte was read, it
// marks the reader `unreadable`.
std::size_t read_bytes(LineReader& reader, char* bytes, std::size_t size, int& error);

// Shows the progress of reading `reader` from here on, against the size of
// its file when it is a regular file (see progress.h).
void start_reading_progress(const std::string& program, const LineReader& reader);

// Closes the file.
void close_lines(LineReader& reader);
