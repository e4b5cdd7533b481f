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
// character device, a FIFO) is written in place. Outputs that belong together
// are replaced together or not at all (see close_outputs).
//
// On a terminal, standard output shows control bytes escaped (see
// write_escaped); files and pipes get the bytes as they are.
#pragma once

#include <mutex>
#include <span>
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
// reported and the result drops everything written to it. So it is when a
// symbolic link on the way lies in a sticky world-writable directory (such as
// /tmp) and belongs neither to that directory's owner nor to this user: a
// link another user may have planted, which the system itself would not
// follow for an open when it protects such links.
Output create_output(const std::string& name, const std::vector<std::string>& inputs = {});

// Refuses standard output, reported as a failure, when it is a regular file
// that is the same as one of `inputs`: the run would write into what it reads.
void check_standard_output(const std::vector<std::string>& inputs);

// The same for standard input, for a run that reads it: false, reported,
// when standard output is the regular file that standard input reads.
bool check_standard_input();

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

// Closes `outputs` as one: each is flushed and synced, and only when none
// failed are the temporaries renamed over their names, with the signals that
// end the program held meanwhile. When a rename fails, those done are undone:
// a file replaced takes its name back (the two trade places on renaming, so
// the old one is still there), a new one is removed. Only the output that
// failed is reported.
void close_outputs(std::span<Output* const> outputs);

// Closes `out` without replacing its file: what it holds is dropped and its
// temporary removed, with nothing reported.
void discard_output(Output& out);

// Writes `bytes` to the descriptor `fd` with the control bytes that a
// terminal would act on, 0x00 to 0x1F but tab and line feed, and 0x7F, shown
// as "\xHH" (two lowercase hex digits); other bytes, 0x80 and up too, go as
// they are. Allocates nothing. Returns 0, or the errno value of a failed
// write.
int write_escaped(int fd, std::string_view bytes);

// Whether bytes written to the descriptor `fd`, 1 or 2, are shown as
// write_escaped shows them: it is a terminal, and keep_control_bytes was not
// called.
bool escapes_control_bytes(int fd);

// Writes control bytes as they are on a terminal too, for a program whose
// standard streams a launcher hands on: mpirun gives the ranks a
// pseudo-terminal of its own, whatever the user's output is.
void keep_control_bytes();

// Writes what standard output holds, as a flush would, allocating nothing:
// for a program that ends at once (see fail_out_of_memory).
void write_held_standard_output();

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file of the run lands on one of them. Call before opening anything.
void protect_standard_descriptors();

// Removes every temporary file that has not been renamed yet. Safe to call
// from a signal handler.
void remove_temporary_outputs();

// Temporary files are named "." + the target's name + this + six random
// letters and digits, hidden beside the target.
inline constexpr std::string_view temporary_marker = ".tmp-patternladder-";
