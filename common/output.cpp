#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "messages.h"
#include "output_place.h"
#include "progress.h"

namespace {

bool standard_output_was_closed = false;

// A fixed array, so that fail_out_of_memory can use it without allocating.
char name_bytes[64] = "program";
std::atomic<int> status{0};  // set by any thread that reports
std::atomic<bool> notes_hidden{false};

// Writes `line` on standard error; flushes it when `flush` or on a terminal,
// where its control bytes are shown escaped.
void write_line(std::string_view line, bool flush) {
  if (escapes_control_bytes(2)) {
    std::fflush(stderr);
    write_escaped(2, line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  if (flush) std::fflush(stderr);
}

// Writes a failure line that flushes: after what standard output holds, with
// the status line out of the way.
void write_flushed_line(std::string_view line) {
  const std::lock_guard lock(standard_output_lock());
  Output& out = standard_output();
  if (!out.failed) flush_output(out);  // keep the two streams in order
  pause_progress();
  write_line(line, true);
  resume_progress();
}

void report(Cannot what, std::string_view file_name, std::string_view reason) {
  write_flushed_line(failure_line(program_name(), what, file_name, reason));
  status = 1;
}

// Drops what the output holds, and its temporary, for good.
void drop(Output& out) {
  out.failed = true;
  out.buffer.clear();
  out.buffer.shrink_to_fit();
  remove_temporary(out.temporary);  // the descriptor is only closed now
}

void fail(Output& out, int error) {
  drop(out);
  report_write_failure(out.name, error);
}

// Reports why `out` may not be written where its name leads.
void refuse(Output& out, const Refusal& refusal) {
  if (refusal.clash == Clash::error) {
    fail(out, refusal.error);
    return;
  }
  drop(out);
  switch (refusal.clash) {
    case Clash::planted_link:
      report_write_failure_reason(out.name, planted_link_reason);
      return;
    case Clash::input:
    case Clash::open_output:
      report_write_failure_reason(out.name, same_file_reason(refusal.other));
      return;
    case Clash::standard_output:
      report_write_failure_reason(out.name, same_as_standard_output);
      return;
    case Clash::standard_input:
      report_write_failure_reason(out.name, same_as_standard_input);
      return;
    case Clash::none:
    case Clash::error:
      return;
  }
}

// Whether standard output is a terminal, where the status line may stand.
bool standard_output_is_terminal() {
  static const bool terminal = ::isatty(1) == 1;
  return terminal;
}

// A temporary is synced before it replaces its file. Its bytes are sent on
// to the disk as they come, this many at a time, so that the sync at the
// end has little left to wait for; a failure shows in that sync.
constexpr std::size_t writeback_step = std::size_t{8} << 20;

void start_writeback(Output& out, std::size_t written) {
  out.unsent += written;
  if (out.unsent < writeback_step || out.temporary.path.empty()) return;
  static_cast<void>(::sync_file_range(out.fd, 0, 0, SYNC_FILE_RANGE_WRITE));
  out.unsent = 0;
}

void write_all(Output& out, const char* data, std::size_t size) {
  if (out.pending_error != 0) {
    fail(out, out.pending_error);
    return;
  }
  const bool to_terminal = out.fd == 1 && standard_output_is_terminal();
  if (to_terminal) {
    pause_progress();
    if (size != 0) set_terminal_line_open(data[size - 1] != '\n');
  }
  const std::string_view bytes(data, size);
  const int error =
      to_terminal && escapes_control_bytes(1) ? write_escaped(out.fd, bytes) : write_fully(out.fd, bytes);
  if (error != 0) fail(out, error);
  if (error == 0) start_writeback(out, size);
  if (to_terminal) resume_progress();
}

// Renames the temporaries of `outs` over their names together; when one
// fails, it is reported, and every temporary goes.
void rename_all(const std::vector<Output*>& outs) {
  std::vector<Temporary*> temporaries(outs.size());
  for (std::size_t i = 0; i < outs.size(); ++i) temporaries[i] = &outs[i]->temporary;
  std::size_t failed = 0;
  const int error = rename_together(temporaries, failed);
  if (error == 0) return;
  fail(*outs[failed], error);
  for (Output* o : outs) drop(*o);  // removes what the temporaries' names hold now
}

}  // namespace

void protect_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
    if (fd == 1) standard_output_was_closed = true;
  }
}

Output create_output(const std::string& name, const std::vector<std::string>& inputs) {
  Output out;
  out.name = name;
  // 1. Where the name leads, and whether it may be written there.
  OutputPlace place;
  const Refusal refusal = place_output(name, inputs, place);
  if (refusal.clash != Clash::none) {
    refuse(out, refusal);
    return out;
  }
  // 2. A device or a FIFO is written in place; a regular file is replaced.
  if (place.in_place) {
    out.fd = ::open(place.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out.fd < 0) {
      fail(out, errno);
      return out;
    }
  } else {
    if (place.exists && ::faccessat(AT_FDCWD, place.target.c_str(), W_OK, AT_EACCESS) != 0) {
      fail(out, errno);  // a file its owner made read-only stays as it is
      return out;
    }
    out.temporary.target = place.target;
    const int error = create_temporary(out.temporary, place.exists ? &place.found : nullptr, out.fd);
    if (error != 0) {
      fail(out, error);
      return out;
    }
  }
  note_open_output(name, place, out.fd);
  return out;
}

void check_standard_output(const std::vector<std::string>& inputs) {
  const std::string* input = standard_output_among(inputs);
  if (input == nullptr) return;
  drop(standard_output());
  report_write_failure_reason("", same_file_reason(*input));
}

bool check_standard_input() {
  if (!standard_output_is_standard_input()) return true;
  drop(standard_output());
  report_write_failure_reason("", same_as_standard_input);
  return false;
}

Output memory_output() { return Output{}; }

Output& standard_output() {
  static Output out = [] {
    Output o;
    o.fd = 1;
    if (standard_output_was_closed) o.pending_error = EBADF;
    return o;
  }();
  return out;
}

std::recursive_mutex& standard_output_lock() {
  static std::recursive_mutex lock;
  return lock;
}

void flush_output(Output& out) {
  if (out.fd < 0 || out.failed || out.buffer.empty()) return;
  write_all(out, out.buffer.data(), out.buffer.size());
  out.buffer.clear();
}

void flush_full_buffer(Output& out) {
  const std::size_t end = out.buffer.rfind('\n');
  if (out.fd != 1 || out.failed || end == std::string::npos || !standard_output_is_terminal()) {
    flush_output(out);
    return;
  }
  write_all(out, out.buffer.data(), end + 1);
  out.buffer.erase(0, end + 1);
}

void write_through(Output& out, std::string_view bytes) {
  flush_output(out);
  if (!out.failed) write_all(out, bytes.data(), bytes.size());
}

void close_output(Output& out) {
  Output* const outs[] = {&out};
  close_outputs(outs);
}

void close_outputs(std::span<Output* const> outputs) {
  // 1. Every output flushed; those written in place are done, the others'
  //    temporaries are synced.
  std::vector<Output*> renamed;
  bool failed = false;
  for (Output* out : outputs) {
    forget_output(out->name);
    flush_output(*out);
    if (out->fd == 1) continue;  // standard output stays open, and answers for itself
    if (out->fd >= 0 && out->temporary.path.empty()) {
      if (::close(out->fd) != 0 && !out->failed) fail(*out, errno);
      out->fd = -1;
    } else if (out->fd >= 0) {
      if (!out->failed && ::fsync(out->fd) != 0 && errno != EINVAL) fail(*out, errno);
      renamed.push_back(out);
    }
    failed = failed || out->failed;
  }
  // 2. The temporaries take the names only when everything is on disk.
  if (failed) {
    for (Output* out : renamed) drop(*out);
  } else if (!renamed.empty()) {
    rename_all(renamed);
  }
  for (Output* out : renamed) {
    forget_temporary(out->temporary);
    ::close(out->fd);  // after the rename: the lock keeps the temporary from being taken for stale
    out->fd = -1;
  }
}

void discard_output(Output& out) {
  drop(out);
  close_output(out);
}

void write_held_standard_output() {
  Output& out = standard_output();
  if (out.failed || out.pending_error != 0 || out.fd < 0) return;
  if (escapes_control_bytes(1)) {
    write_escaped(out.fd, out.buffer);
  } else {
    write_fully(out.fd, out.buffer);
  }
}

void set_program_name(std::string_view name) {
  const std::size_t size = std::min(name.size(), sizeof name_bytes - 1);
  std::memcpy(name_bytes, name.data(), size);
  name_bytes[size] = '\0';
}

std::string_view program_name() { return name_bytes; }

void report_read_failure(std::string_view file_name, int error) {
  report(Cannot::read, file_name, error_reason(error));
}

void report_write_failure(std::string_view file_name, int error) {
  report(Cannot::write, file_name, error_reason(error));
}

void report_write_failure_reason(std::string_view file_name, std::string_view reason) {
  report(Cannot::write, file_name, reason);
}

void report_problem(std::string_view what) {
  const std::lock_guard lock(standard_output_lock());
  const std::string line = problem_line(program_name(), what);
  pause_progress();
  write_line(line, false);
  resume_progress();
  status = 1;
}

void report_note(std::string_view what) {
  if (!notes_hidden.load()) write_flushed_line(note_line(program_name(), what));
}

void hide_notes() { notes_hidden.store(true); }

void write_error_line(std::string_view line) { write_flushed_line(line); }

void fail_out_of_memory() {
  // Threads that run out together: the first says so and ends the program,
  // the others wait for it.
  static std::atomic<bool> failing{false};
  if (failing.exchange(true)) {
    for (;;) ::pause();
  }
  remove_temporaries();
  // What standard output holds so far goes first, as with any failure line.
  write_held_standard_output();
  clear_progress_on_signal();
  std::fflush(stderr);
  put_problem_line([](std::string_view piece) { write_fully(2, piece); }, program_name(), out_of_memory);
  ::_exit(1);
}

int exit_status() { return status.load(); }
