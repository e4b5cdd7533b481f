// What both programs do before their run: name themselves in failure lines,
// report a closed pipe as a failed write rather than die of it, and answer a
// lone "--help", "-h" or "--version" without touching any file.
#pragma once

#include <string_view>

// Names the program (see failure.h) and ignores SIGPIPE, so that writing to a
// closed pipe fails like any other write and is reported.
void start_program(std::string_view name);

// When the only argument is "--help" or "-h", prints `usage`; when it is
// "--version", prints `version`. Returns true when it printed, and the program
// then ends with exit_status(); any other arguments are ignored.
bool answer_help_or_version(int argc, char** argv, std::string_view usage,
                            std::string_view version);
