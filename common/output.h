// Buffered output files. Bytes collect in a buffer and reach the file in large
// writes; the programs' outputs are byte streams, so when they are handed to
// the operating system changes nothing in them. The first failed write of a
// file is reported (see failure.h) and nothing more is written to it or kept
// for it.
//
// An output that is a regular file, or does not exist yet, is replaced whole
// or not at all: its bytes go to a new temporary file beside it (see
// `temporary_prefix`), created when the output is, with the permission bits
// of the file it replaces. Closing the output syncs the temporary and renames
// it over the name once every write has succeeded; on a failure, or when the
// program ends any other way short of SIGKILL, the temporary is removed and
// the previous file stays as it was. A name that is a symbolic link keeps its
// link: the file it points to is replaced. Any other output that exists (a
// character device, a FIFO) is written in place.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct Output {
  int fd = -1;       // -1: the bytes only collect in `buffer` (unless `failed`)
  std::string name;  // as the program names it; empty for standard output
  std::string buffer;
  bool failed = false;      // a failure was reported; later bytes are dropped
  int pending_error = 0;    // the first write fails with this errno (see standard_output)
  std::string temporary;    // the temporary file written, or "" when written in place
  std::string target;       // what the temporary replaces: `name` with its links followed
  int temporary_slot = -1;  // where the temporary is registered for removal on a signal
};

// A file that a run reads, for the check that no output overwrites it.
struct InputFile {
  std::string name;
};

// Creates `name` for writing, as above. When it cannot be created, or when it
// is the same file as one of `inputs`, as standard output or as an output
// open now (compared by device and inode, links followed), the failure is
// reported and the result drops everything written to it.
Output create_output(const std::string& name, const std::vector<std::string>& inputs = {});

// Refuses standard output, reported as a failure, when it is a regular file
// that is the same as one of `inputs`: the run would write into what it reads.
void check_standard_output(const std::vector<std::string>& inputs);

// An Output that keeps everything in `buffer`, for tests.
Output memory_output();

// Standard output, shared by the whole program. Flushed before any failure
// line goes to standard error, so that the two streams stay in order. When
// descriptor 1 was closed at start (see protect_standard_descriptors), the
// first write to it is reported as failed with EBADF.
Output& standard_output();

// Held by every failure line (see failure.h) while it flushes standard output
// and is written, and by a thread that writes standard output while other
// threads of the program may report a failure.
std::recursive_mutex& standard_output_lock();

// Hands the buffer to the file when it holds this many bytes or more.
inline constexpr std::size_t output_flush_size = 1 << 16;

void flush_output(Output& out);

// Flushes a buffer that has filled: all of it, but on a terminal only up to
// its last line feed, so that the status line can be drawn at the start of a
// line (see progress.h) while the run waits for more input.
void flush_full_buffer(Output& out);

// Writes `bytes` straight to the file, after what the buffer holds.
void write_through(Output& out, std::string_view bytes);

inline void write_output(Output& out, std::string_view bytes) {
  if (out.failed) return;
  if (out.fd >= 0 && bytes.size() >= output_flush_size) {
    write_through(out, bytes);  // a long line is not copied into the buffer
    return;
  }
  out.buffer.append(bytes);
  if (out.fd >= 0 && out.buffer.size() >= output_flush_size) flush_full_buffer(out);
}

// Flushes and closes the file. A temporary is synced and renamed over its
// name, or removed when anything failed; a failure to close is reported too.
void close_output(Output& out);

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file of the run lands on one of them. Call before opening anything.
void protect_standard_descriptors();

// Removes every temporary file that has not been renamed yet. Safe to call
// from a signal handler.
void remove_temporary_outputs();

// Temporary files are named "." + the target's name + this + six random
// letters and digits, hidden beside the target.
inline constexpr std::string_view temporary_marker = ".tmp-patternladder-";
