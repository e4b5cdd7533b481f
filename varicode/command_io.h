// What the commands of varicode share around their work: the files they read
// and the checks before, reading their files by lines or by blocks, the
// status line, and the end of a command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "codec.h"
#include "line_reader.h"
#include "output.h"
#include "progress.h"

// Reports a problem of line `number` of `file`.
void report_line_problem(const std::string& file, std::uint64_t number, std::string_view what);

// The files a command reads, which its output may not be: the definition
// files, the code map and `files`, with "-" for standard input (read also
// when `files` is empty).
std::vector<std::string> inputs_of(const std::vector<std::string>& files);

// Reads the code map; false, reported, when there is none.
bool read_map(CodeMap& map);

// What every command checks before it reads: standard output, unless the
// command writes to `output` (-o), is none of `files` nor any other file it
// reads. False when the run is to stop.
bool check_outputs(const std::vector<std::string>& files, const std::string& output = "");

// Where a command writes: standard output, or the file `name` (-o), then
// created in `named` (see create_output), refused when it is one of `inputs`,
// and replaced whole when the command finishes well.
Output& command_output(const std::string& name, const std::vector<std::string>& inputs, Output& named);

// The digest of the code map's bytes, which packed streams hold.
std::uint64_t code_map_digest();

// The status line counts the lines done every this many lines.
inline constexpr std::uint64_t lines_per_update = 1024;

// Calls `each(file, reader)` for each of `files` opened in order, "-" (or
// no file at all) being standard input; a file that cannot be opened is
// reported and passed over.
template <typename Each>
void for_each_file(const std::vector<std::string>& files, Each&& each) {
  const std::vector<std::string> standard_input = {"-"};
  for (const std::string& file : files.empty() ? standard_input : files) {
    LineReader reader = file == "-" ? standard_input_lines(file) : open_lines(file, true);
    if (reader.file != nullptr && !reader.unreadable) each(file, reader);
    close_lines(reader);
  }
}

// Calls `each(file, number, line)` for every line of `files` in order, opened
// as for_each_file opens them.
template <typename Each>
void for_each_line(const std::vector<std::string>& files, Each&& each) {
  std::uint64_t done = 0;
  for_each_file(files, [&](const std::string& file, LineReader& reader) {
    std::string_view line;
    std::uint64_t number = 0;
    while (next_line(reader, line)) {
      each(file, ++number, line);
      if (++done % lines_per_update == 0) progress_done.store(done, std::memory_order_relaxed);
    }
  });
}

// Calls `each(file, number, block)` for every block of whole lines of `files`
// (see next_block), opened as for_each_file opens them; `number` counts the
// lines of the file before the block, and `each` adds those of the block.
template <typename Each>
void for_each_block(const std::vector<std::string>& files, Each&& each) {
  for_each_file(files, [&](const std::string& file, LineReader& reader) {
    std::string_view block;
    std::uint64_t number = 0;
    while (next_block(reader, block)) each(file, number, block);
  });
}

// Shows how many lines `command` has done ("encoded", say).
void start_line_progress(const std::string& command, const std::string& done);

// Many messages may come: standard error collects them in a buffer, which
// the failure lines and the end of the program flush. Not on a terminal,
// where each is seen as it comes.
void buffer_standard_error();

// Ends a command: the status line cleared, `out` closed, standard error
// flushed; returns the exit status. A file named by -o is replaced only when
// every input could be read and nothing the command read was `damaged`.
int finish(Output& out, bool damaged = false);
