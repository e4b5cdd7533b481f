#include "trim.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string_view trim_view(std::string_view line) {
  std::size_t begin = 0;
  std::size_t end = line.size();
  while (begin < end && is_blank(line[begin])) ++begin;
  while (end > begin && is_blank(line[end - 1])) --end;
  return line.substr(begin, end - begin);
}

std::string trim(std::string_view line) { return std::string(trim_view(line)); }
