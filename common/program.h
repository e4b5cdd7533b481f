// What every program does before its run: make sure descriptors 0, 1 and 2
// are open, remove its temporary outputs when a signal ends it, end with one
// line when memory runs out, report a closed pipe as a failed write rather than
// die of it, and read the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Names the program (see output.h), opens /dev/null on a closed standard
// descriptor, and sets up the handling of signals and of running out of
// memory. Call first, before any file is opened.
void start_program(std::string_view name);

// The copyright and licence lines that follow the version line of --version.
extern const std::string_view copyright_lines;

// Reports a usage error, "PROGRAM: WHAT" and a hint at --help, on standard
// error; returns the exit status of a usage error, 2.
int usage_error(std::string_view what);

// What a program takes besides -C, --help and --version; each is taken when
// its pointer is given.
struct ProgramOptions {
  unsigned* threads = nullptr;  // "-j N", "--threads=N": from 1 to 1024; 0 leaves it as it is
  // The arguments that are not options, which may then stand before, between
  // and after the options ("--" ends them; "-" is an argument). Without it
  // options end at the first argument, and any argument is a usage error.
  std::vector<std::string>* operands = nullptr;
  std::uint64_t* sample = nullptr;  // "--sample=LINES"
  std::string* output = nullptr;    // "-o FILE", "--output=FILE": the file to write
  // Long options of the program's own: "--NAME" sets `*set`, or, for one
  // with `value`, "--NAME=VALUE" (or "--NAME VALUE") stores VALUE there (and
  // sets `*set`, if given, so that an empty VALUE is told from none).
  struct Own {
    const char* name;
    bool* set = nullptr;
    std::string* value = nullptr;
  };
  std::vector<Own> own = {};
};

// The parts of a usage text (see usage_text).
struct UsageText {
  std::string_view about = {};        // what the program does, reads and writes, to a blank line
  bool status_line_paragraph = true;  // the paragraph on the status line stands before the options
  // The description of "-j, --threads=N", its lines after the first indented
  // to the column of the first; "" for a program without -j.
  std::string_view threads = {};
  std::string_view own_options = {};  // the help lines of the program's own options, listed after -j
  std::string_view after = {};        // after the options and a blank line: exit status, the manual
};

// A usage text for --help: `about`, the paragraph on the status line, the
// help lines of the options every program takes (-C, -j, the program's own,
// --progress, --no-progress, -h and --version), a blank line and `after`.
std::string usage_text(const UsageText& text);

// Reads the command line: "-h" or "--help" prints `usage`, "--version" prints
// `version` and the copyright lines; "-C DIR" (or "--directory=DIR") makes
// the program work in DIR; "--progress" and "--no-progress" set when the
// status line is shown (see progress.h); then the options of `options`. Anything else is a
// usage error, reported on standard error before any file is touched. Returns
// -1 when the run is to go on, else the exit status to end with: 0 after help
// or version (1 when standard output failed), 2 after a usage error.
int read_command_line(int argc, char** argv, std::string_view usage, std::string_view version,
                      const ProgramOptions& options = {});
