// Trimming of blanks at both ends of a line, shared by the programs.
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
