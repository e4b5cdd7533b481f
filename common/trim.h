// Trimming of blanks at both ends of a line, and taking the lines of bytes
// held in memory, shared by the programs.
#pragma once

#include <string>
#include <string_view>

// The bytes that trimming removes: space, tab, carriage return, line feed.
inline constexpr std::string_view blank_bytes = " \t\r\n";

// Returns the part of `line` without the spaces, tabs, CRs and LFs at either
// end; bytes in between are kept, so "  a b\r" gives "a b" and "\t \r" gives "".
// Other control bytes (vertical tab, form feed, NUL) are not blanks.
inline std::string_view trim_view(std::string_view line) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t begin = 0;
  std::size_t end = line.size();
  while (begin < end && is_blank(line[begin])) ++begin;
  while (end > begin && is_blank(line[end - 1])) --end;
  return line.substr(begin, end - begin);
}

// The same as trim_view, as a copy.
std::string trim(std::string_view line);

// Takes the first line off `bytes`, lines held whole in memory: returns it
// without its line feed (the rest, when none follows) and leaves what comes
// after that line feed.
inline std::string_view take_line(std::string_view& bytes) {
  const std::size_t lf = bytes.find('\n');
  const std::string_view line = bytes.substr(0, lf);
  bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
  return line;
}
