#include "pattern_file.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "file_names.h"
#include "messages.h"

namespace {

// Writes the message of a line that is skipped (see ignored_line_message).
void write_line_message(Output& messages, IgnoredLine why, std::uint64_t line_number, std::string_view quoted,
                        std::string_view file_name) {
  write_output(messages, ignored_line_message(why, line_number, quoted, file_name));
}

}  // namespace

DefinitionFiles open_definition_files() {
  return {open_lines(valid_chars_file), open_lines(recurrent_file), open_lines(start_file)};
}

Definitions read_definition_files(Output& messages, DefinitionFiles files) {
  Definitions definitions;
  definitions.valid = read_strings(files.valid, {}, messages);
  definitions.recurrent = read_strings(files.recurrent, definitions.valid, messages);
  definitions.start = read_strings(files.start, definitions.valid, messages);
  return definitions;
}

PatternList read_strings_from_file(const std::string& file_name, const PatternList& valid, Output& messages) {
  LineReader reader = open_lines(file_name);
  return read_strings(reader, valid, messages);
}

PatternList read_strings(LineReader& reader, const PatternList& valid, Output& messages) {
  const std::string& file_name = reader.name;
  const bool validate = !valid.empty();
  const ByteSet valid_bytes = valid_byte_set(valid);
  PatternList result;
  std::unordered_set<std::string> seen;
  std::uint64_t line_number = 0;
  std::string_view line;
  while (next_line(reader, line)) {
    ++line_number;
    const DefinitionLine read = read_definition_line(line, validate ? &valid_bytes : nullptr);
    if (read.ignored) {
      write_line_message(messages, *read.ignored, line_number, read.quoted, file_name);
      continue;
    }
    if (read.pattern.empty()) continue;
    auto [at, inserted] = seen.emplace(read.pattern);
    if (inserted) result.push_back(*at);
  }
  close_lines(reader);
  std::stable_sort(result.begin(), result.end(), compare_string_length);
  return result;
}
