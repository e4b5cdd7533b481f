// Definition files: one pattern per line, written between the first '<' and
// the last '>' of the line, so "<<>" defines "<" and "<a>b>" defines "a>b".
// Text outside the brackets is ignored. A pattern is a byte string; letter
// case matters and no character set is assumed.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line_reader.h"
#include "output.h"

// Distinct non-empty patterns, longest first once read.
using PatternList = std::vector<std::string>;

// For each byte value, whether the one-byte string of it is in a list.
using ByteSet = std::array<bool, 256>;

// The bytes made valid by `valid`: only its one-byte entries count, so an
// entry "ab" makes neither 'a' nor 'b' valid.
ByteSet valid_byte_set(const PatternList& valid);

// True when every byte of `text` is valid in `valid`; true for "".
bool check_string(std::string_view text, const PatternList& valid);
bool check_string(std::string_view text, const ByteSet& valid);

// The order of a PatternList: true exactly when `a` is longer than `b`.
bool compare_string_length(const std::string& a, const std::string& b);

// What a line of a definition file defines: its bracketed text, or why it
// is skipped, with the text that the message quotes (the line, or the
// bracketed text when it holds a byte that is not valid). Bytes are checked
// only against a `valid` set that is given.
enum class IgnoredLine;  // see messages.h
struct DefinitionLine {
  std::string_view pattern;
  std::optional<IgnoredLine> ignored;
  std::string_view quoted;
};
DefinitionLine read_definition_line(std::string_view line, const ByteSet* valid);

// Reads the patterns of the definition file `file_name`, longest first.
// Writes one message to `messages` for each line without '<', without a '>'
// after its first '<', or (when `valid` is not empty) with a byte of the
// bracketed text that is not valid; such lines are skipped. Empty and
// repeated patterns are dropped silently. A file that cannot be read gives an
// empty list, and no message: open_lines tells of it on standard error.
PatternList read_strings_from_file(const std::string& file_name, const PatternList& valid, Output& messages);

// The same for a file that open_lines opened; closes it.
PatternList read_strings(LineReader& reader, const PatternList& valid, Output& messages);

// The three definition lists.
struct Definitions {
  PatternList valid;
  PatternList recurrent;
  PatternList start;
};

// The patterns of a definition file held whole in `bytes`, as read_strings
// reads them, without messages.
PatternList patterns_from_bytes(std::string_view bytes, const PatternList& valid);

// The three lists from the bytes of their files, as read_definition_files
// reads them.
Definitions definitions_from_bytes(std::string_view valid, std::string_view recurrent,
                                   std::string_view start);

// The three definition files of the working directory, opened (see
// open_lines).
struct DefinitionFiles {
  LineReader valid;
  LineReader recurrent;
  LineReader start;
};

DefinitionFiles open_definition_files();

// Reads the definition files, valid characters first, as the others are
// checked against them; their messages go to `messages`.
Definitions read_definition_files(Output& messages, DefinitionFiles files = open_definition_files());
