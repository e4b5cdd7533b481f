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

ByteSet valid_byte_set(const PatternList& valid) {
  ByteSet set{};
  for (const std::string& entry : valid) {
    if (entry.size() == 1) set[static_cast<unsigned char>(entry[0])] = true;
  }
  return set;
}

bool check_string(std::string_view text, const ByteSet& valid) {
  for (char c : text) {
    if (!valid[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

bool check_string(std::string_view text, const PatternList& valid) {
  return check_string(text, valid_byte_set(valid));
}

bool compare_string_length(const std::string& a, const std::string& b) { return a.size() > b.size(); }

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
    // 1. The delimiters: the first '<' and the last '>' after it.
    const std::size_t open = line.find('<');
    if (open == std::string_view::npos) {
      write_line_message(messages, IgnoredLine::no_start, line_number, line, file_name);
      continue;
    }
    const std::size_t close = line.rfind('>');
    if (close == std::string_view::npos || close < open) {
      write_line_message(messages, IgnoredLine::no_end, line_number, line, file_name);
      continue;
    }
    // 2. The bracketed text must hold valid bytes only; then it is kept once.
    const std::string_view text = line.substr(open + 1, close - open - 1);
    if (validate && !check_string(text, valid_bytes)) {
      write_line_message(messages, IgnoredLine::invalid_character, line_number, text, file_name);
      continue;
    }
    if (text.empty()) continue;
    auto [at, inserted] = seen.emplace(text);
    if (inserted) result.push_back(*at);
  }
  close_lines(reader);
  std::stable_sort(result.begin(), result.end(), compare_string_length);
  return result;
}
