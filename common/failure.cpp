#include "failure.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "output.h"
#include "progress.h"

namespace {

// A fixed array, so that fail_out_of_memory can use it without allocating.
char name_bytes[64] = "program";
std::atomic<int> status{0};  // set by any thread that reports
std::atomic<bool> notes_hidden{false};

// Writes `line` on standard error; flushes it when `flush` or on a terminal,
// where its control bytes are shown escaped.
void write_line(const std::string& line, bool flush) {
  if (escapes_control_bytes(2)) {
    std::fflush(stderr);
    write_escaped(2, line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  if (flush) std::fflush(stderr);
}

void report(std::string_view verb, std::string_view file_name, std::string_view reason) {
  const std::lock_guard lock(standard_output_lock());
  Output& out = standard_output();
  if (!out.failed) flush_output(out);  // keep the two streams in order
  std::string line(program_name());
  line += ": cannot ";
  line += verb;
  if (file_name.empty()) {
    line += " standard output";
  } else {
    line += " \"";
    line += file_name;
    line += '"';
  }
  line += ": ";
  line += reason;
  line += '\n';
  pause_progress();
  write_line(line, true);
  resume_progress();
  status = 1;
}

std::string_view reason_of(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

void write_stderr(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(2, bytes.data(), bytes.size());
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void set_program_name(std::string_view name) {
  const std::size_t size = std::min(name.size(), sizeof name_bytes - 1);
  std::memcpy(name_bytes, name.data(), size);
  name_bytes[size] = '\0';
}

std::string_view program_name() { return name_bytes; }

void report_read_failure(std::string_view file_name, int error) {
  report("read", file_name, reason_of(error));
}

void report_write_failure(std::string_view file_name, int error) {
  report("write", file_name, reason_of(error));
}

void report_write_failure_reason(std::string_view file_name, std::string_view reason) {
  report("write", file_name, reason);
}

void report_problem(std::string_view what) {
  const std::lock_guard lock(standard_output_lock());
  std::string line(program_name());
  line += ": ";
  line += what;
  line += '\n';
  pause_progress();
  write_line(line, false);
  resume_progress();
  status = 1;
}

void report_note(std::string_view what) {
  if (notes_hidden.load()) return;
  const std::lock_guard lock(standard_output_lock());
  Output& out = standard_output();
  if (!out.failed) flush_output(out);
  std::string line(program_name());
  line += ": note: ";
  line += what;
  line += '\n';
  pause_progress();
  write_line(line, true);
  resume_progress();
}

void hide_notes() { notes_hidden.store(true); }

void fail_out_of_memory() {
  // Threads that run out together: the first says so and ends the program,
  // the others wait for it.
  static std::atomic<bool> failing{false};
  if (failing.exchange(true)) {
    for (;;) ::pause();
  }
  remove_temporary_outputs();
  // What standard output holds so far goes first, as with any failure line.
  write_held_standard_output();
  clear_progress_on_signal();
  std::fflush(stderr);
  write_stderr(program_name());
  write_stderr(": out of memory\n");
  ::_exit(1);
}

int exit_status() { return status.load(); }
