// The lines of definition files, whatever they are read from: what a line
// defines, and the patterns of a whole file held in memory. Nothing here
// reads a file or writes a message, so that the embedding library can read
// definitions as the programs do.
#include <algorithm>
#include <unordered_set>

#include "messages.h"
#include "pattern_file.h"
#include "trim.h"

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

DefinitionLine read_definition_line(std::string_view line, const ByteSet* valid) {
  // The delimiters: the first '<' and the last '>' after it.
  const std::size_t open = line.find('<');
  if (open == std::string_view::npos) return {{}, IgnoredLine::no_start, line};
  const std::size_t close = line.rfind('>');
  if (close == std::string_view::npos || close < open) return {{}, IgnoredLine::no_end, line};
  // The bracketed text must hold valid bytes only.
  const std::string_view text = line.substr(open + 1, close - open - 1);
  if (valid != nullptr && !check_string(text, *valid)) return {{}, IgnoredLine::invalid_character, text};
  return {text, std::nullopt, {}};
}

PatternList patterns_from_bytes(std::string_view bytes, const PatternList& valid) {
  const ByteSet valid_bytes = valid_byte_set(valid);
  const ByteSet* check = valid.empty() ? nullptr : &valid_bytes;
  PatternList result;
  std::unordered_set<std::string_view> seen;
  while (!bytes.empty()) {
    const DefinitionLine read = read_definition_line(take_line(bytes), check);
    if (read.ignored || read.pattern.empty()) continue;
    if (seen.insert(read.pattern).second) result.emplace_back(read.pattern);
  }
  std::stable_sort(result.begin(), result.end(), compare_string_length);
  return result;
}

Definitions definitions_from_bytes(std::string_view valid, std::string_view recurrent,
                                   std::string_view start) {
  Definitions definitions;
  definitions.valid = patterns_from_bytes(valid, {});
  definitions.recurrent = patterns_from_bytes(recurrent, definitions.valid);
  definitions.start = patterns_from_bytes(start, definitions.valid);
  return definitions;
}
