#include "ranking.h"

#include <algorithm>

bool compare_frequency_word(const PatternCount& a, const PatternCount& b) {
  if (a.second != b.second) return a.second > b.second;
  if (a.first.size() != b.first.size()) return a.first.size() < b.first.size();
  return a.first < b.first;  // byte-wise, bytes taken as unsigned
}

void write_ranked_reports(const FrequencyTable& table, Output& count_report, Output& ranked_patterns) {
  RankedList ranked(table.begin(), table.end());
  std::sort(ranked.begin(), ranked.end(), compare_frequency_word);
  std::string line;
  for (const auto& [pattern, count] : ranked) {
    line = std::to_string(count);
    line += "\t<";
    line += pattern;
    line += ">\n";
    write_output(count_report, line);
    const std::string_view written = line;
    write_output(ranked_patterns, written.substr(written.find('\t') + 1));
  }
}
