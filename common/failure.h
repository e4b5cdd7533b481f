// Failures that the programs report on standard error: a file that could not
// be read, an output that could not be created or written. Each is one line,
// "PROGRAM: cannot read \"NAME\": REASON" and the like, and turns the exit
// status to 1; the run itself goes on. Running out of memory and a usage
// error end the run. Notes ("PROGRAM: note: ...") tell of something the run
// took in its stride, and leave the status as it is.
//
// On a terminal, the control bytes of these lines (a file name or a quoted
// input line may hold any byte) are shown escaped: see write_escaped.
#pragma once

#include <string_view>

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

// Writes "PROGRAM: out of memory" on standard error, removes the temporary
// outputs and ends the program with status 1. Allocates nothing.
[[noreturn]] void fail_out_of_memory();

// 0 while nothing was reported, else 1.
int exit_status();
