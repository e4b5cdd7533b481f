// What the programs write: buffered output files, standard output among them,
// and the failure lines on standard error that tell when one of them, or an
// input, went wrong. The two are one unit because each needs the other: a
// failure line first flushes standard output, so that the two streams stay
// in order, and an output reports its own failed write.
//
// Outputs. Bytes collect in a buffer and reach the file in large writes; the
// programs' outputs are byte streams, so when they are handed to the
// operating system changes nothing in them. The first failed write of a file
// is reported and nothing more is written to it or kept for it. An output
// that is a regular file, or does not exist yet, is replaced whole or not at
// all (see replacement.h): its bytes go to a temporary file beside it,
// created when the output is, with the permission bits of the file it
// replaces. Closing the output syncs the temporary and renames it over the
// name once every write has succeeded; on a failure, or when the program ends
// any other way short of SIGKILL, the temporary is removed and the previous
// file stays as it was. A name that is a symbolic link keeps its link: the
// file it points to is replaced. Any other output that exists (a character
// device, a FIFO) is written in place (see output_place.h). Outputs that
// belong together are replaced together or not at all (see close_outputs).
//
// Failure lines. A file that could not be read, an output that could not be
// created or written: each is one line, "PROGRAM: cannot read \"NAME\":
// REASON" and the like, and turns the exit status to 1; the run itself goes
// on. Running out of memory and a usage error end the run. Notes ("PROGRAM:
// note: ...") tell of something the run took in its stride, and leave the
// status as it is. Their texts are built in messages.h.
//
// On a terminal, standard output and the failure lines show control bytes
// escaped (see escape.h); files and pipes get the bytes as they are.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "escape.h"
#include "replacement.h"

struct Output {
  int fd = -1;       // -1: the bytes only collect in `buffer` (unless `failed`)
  std::string name;  // as the program names it; empty for standard output
  std::string buffer;
  bool failed = false;     // a failure was reported; later bytes are dropped
  int pending_error = 0;   // the first write fails with this errno (see standard_output)
  Temporary temporary;     // the file written when the output replaces its file
  std::size_t unsent = 0;  // bytes written to the temporary since its writeback began
};

// Creates `name` for writing, as above. When it cannot be created, or when it
// is the same file as one of `inputs` ("-": standard input), as standard
// output or as an output open now, or lies behind a planted link (see
// output_place.h), the failure is reported and the result drops everything
// written to it.
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

// Held by every failure line while it flushes standard output and is
// written, and by a thread that writes standard output while other threads
// of the program may report a failure.
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
// failed are the temporaries renamed over their names, together (see
// rename_together). Only the output that failed is reported.
void close_outputs(std::span<Output* const> outputs);

// Closes `out` without replacing its file: what it holds is dropped and its
// temporary removed, with nothing reported.
void discard_output(Output& out);

// Writes what standard output holds, as a flush would, allocating nothing:
// for a program that ends at once (see fail_out_of_memory).
void write_held_standard_output();

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file of the run lands on one of them. Call before opening anything.
void protect_standard_descriptors();

// Names the program in failure lines; call once at start-up.
void set_program_name(std::string_view name);

// The name set by set_program_name.
std::string_view program_name();

// Reports that `file_name` could not be read; `error` is an errno value.
void report_read_failure(std::string_view file_name, int error);

// Reports that `file_name` could not be written; an empty name stands for
// standard output. `error` is an errno value.
void report_write_failure(std::string_view file_name, int error);

// The same with the reason in words.
void report_write_failure_reason(std::string_view file_name, std::string_view reason);

// Reports a problem with what a run reads, "PROGRAM: " then `what`, and
// turns the exit status to 1. Standard error is not flushed for it: a program
// that reports many sets a buffer on it, and the other failures flush it.
void report_problem(std::string_view what);

// Writes "PROGRAM: note: " then `what` on standard error; the exit status
// stays as it is.
void report_note(std::string_view what);

// Keeps report_note silent from now on, in a process that another one of the
// same run speaks for.
void hide_notes();

// Writes `line`, a whole line, on standard error as the failure lines are
// written: after what standard output holds, with the status line out of the
// way. The exit status stays as it is.
void write_error_line(std::string_view line);

// Writes "PROGRAM: out of memory" on standard error, removes the temporary
// outputs and ends the program with status 1. Allocates nothing.
[[noreturn]] void fail_out_of_memory();

// 0 while nothing was reported, else 1.
int exit_status();
