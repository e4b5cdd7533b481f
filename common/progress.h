// A status line on standard error for long runs, so that a slow run can be
// told from a hung one. On a terminal it appears once a run has gone on for
// half a second, is redrawn in place four times a second and is cleared at
// the end, so that the terminal shows what it would have shown without it.
// With --progress and standard error not a terminal, it is written as one
// line a second instead; otherwise nothing at all is added.
//
// The line is made on a thread of its own from counters that the program
// updates per block of work (progress_done, bytes_read), never per line or
// token. Whatever else goes to the terminal (messages on standard output or
// standard error) clears the line first: see pause_progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

enum class ProgressMode {
  terminal,  // when standard error is a terminal (the default)
  always,    // --progress
  never,     // --no-progress
};

void set_progress_mode(ProgressMode mode);

// What the program has done so far, in its own unit (lines, patterns).
extern std::atomic<std::uint64_t> progress_done;

// Bytes read by every LineReader of the program, counted per block read.
extern std::atomic<std::uint64_t> bytes_read;

// Starts showing `status(seconds)`, where seconds is the time since this
// call, when the mode allows. `status` runs on the drawing thread.
void start_progress(std::function<std::string(double)> status);

// Stops, and clears the line when it was drawn.
void stop_progress();

// Around a write that may reach the terminal: clears the line if it is
// drawn, and keeps it from being drawn until resume_progress (it is drawn
// again at the next update). Calls may nest.
void pause_progress();
void resume_progress();

// Whether the last bytes written to the terminal left a line unfinished. The
// line is not drawn then: its carriage return would go back over the part
// shown, and clearing it would erase that part.
void set_terminal_line_open(bool open);

// Clears a drawn line; safe in a signal handler.
void clear_progress_on_signal();

// Parts of status lines: "1.23 GB", "456 MB/s", "12.3 M", "1:05".
std::string format_bytes(double bytes);
std::string format_count(double count);
std::string format_duration(double seconds);

// The status of reading `total` bytes (0: not known) of which `done` are
// read after `seconds`: "NAME: 1.21 GB of 3.40 GB (35%), 812 MB/s, 0:03 left".
std::string reading_status(const std::string& name, std::uint64_t done, std::uint64_t total, double seconds);
