// Failures that the programs report on standard error: a file that opened but
// could not be read, an output that could not be created or written. Each is
// one line, "PROGRAM: cannot read \"NAME\": REASON" and the like, and turns
// the exit status to 1; the run itself goes on.
#pragma once

#include <string_view>

// Names the program in failure lines; call once at start-up.
void set_program_name(std::string_view name);

// Reports that `file_name` could not be read; `error` is an errno value.
void report_read_failure(std::string_view file_name, int error);

// Reports that `file_name` could not be written; an empty name stands for
// standard output. `error` is an errno value.
void report_write_failure(std::string_view file_name, int error);

// 0 while nothing was reported, else 1.
int exit_status();
