// The files of the code map and the definitions, read by the program: what
// is wrong with them is reported on standard error as it is met.
#include <string>

#include "codec.h"
#include "line_reader.h"
#include "messages.h"
#include "output.h"

bool read_code_map(const std::string& name, CodeMap& map) {
  LineReader reader = open_lines(name, true);
  if (reader.file == nullptr) return false;
  CodeMapIndex index;
  std::string_view line;
  std::uint64_t number = 0;
  while (next_line(reader, line)) {
    ++number;
    std::string_view code;
    std::string_view pattern;
    if (!read_code_map_line(line, code, pattern)) {
      report_problem(line_problem(name, number, not_a_code_map_line));
      continue;
    }
    add_to_code_map(index, map, code, pattern);
  }
  close_lines(reader);
  return !reader.unreadable;
}

Coder build_coder(const CodeMap& map) {
  Output ignored = memory_output();
  return build_coder(map, read_definition_files(ignored));
}
