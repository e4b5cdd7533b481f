// What the commands of varicode share around their work (see command_io.h).
#include "command_io.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "file_names.h"
#include "messages.h"
#include "packed.h"
#include "pattern_file.h"

void report_line_problem(const std::string& file, std::uint64_t number, std::string_view what) {
  report_problem(line_problem(file, number, what));
}

std::vector<std::string> inputs_of(const std::vector<std::string>& files) {
  std::vector<std::string> inputs = input_files();
  inputs.erase(inputs.begin());  // the corpus
  inputs.emplace_back(code_map_file);
  inputs.insert(inputs.end(), files.begin(), files.end());
  if (files.empty()) inputs.emplace_back("-");
  return inputs;
}

bool read_map(CodeMap& map) { return read_code_map(code_map_file, map); }

namespace {

// Whether `files` has standard input read: no file, or "-".
bool reads_standard_input(const std::vector<std::string>& files) {
  return files.empty() || std::find(files.begin(), files.end(), "-") != files.end();
}

}  // namespace

bool check_outputs(const std::vector<std::string>& files, const std::string& output) {
  if (reads_standard_input(files) && !check_standard_input()) return false;
  if (output.empty()) check_standard_output(inputs_of(files));
  return true;
}

Output& command_output(const std::string& name, const std::vector<std::string>& inputs, Output& named) {
  if (name.empty()) return standard_output();
  named = create_output(name, inputs);
  return named;
}

std::uint64_t code_map_digest() {
  std::uint64_t digest = empty_map_digest;
  LineReader reader = open_lines(code_map_file);
  while (refill_lines(reader)) {
    digest =
        map_digest(std::string_view(reader.buffer.data() + reader.begin, reader.end - reader.begin), digest);
    reader.begin = reader.end;
  }
  close_lines(reader);
  return digest;
}

void start_line_progress(const std::string& command, const std::string& done) {
  start_progress([command, done](double seconds) {
    const auto lines = static_cast<double>(progress_done.load(std::memory_order_relaxed));
    return "varicode " + command + ": " + format_count(lines) + " lines " + done + ", " +
           format_count(seconds > 0 ? lines / seconds : 0) + " lines/s";
  });
}

void buffer_standard_error() {
  static char buffer[1 << 16];
  if (::isatty(2) != 1) std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
}

int finish(Output& out, bool damaged) {
  stop_progress();
  if (!out.name.empty() && (input_unreadable() || damaged)) {
    discard_output(out);
  } else {
    close_output(out);
  }
  std::fflush(stderr);
  return exit_status();
}
