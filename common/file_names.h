// The fixed file names of the pipeline, relative to the working directory of
// a run. patterntally reads the corpus and the three definition files and
// writes the count report and the ranked file; bitladder reads the ranked
// file and writes the code map; varicode reads the code map, the definition
// files and (for report and suggest) the corpus.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* corpus_file = "websites.txt";
inline constexpr const char* valid_chars_file = "patterns_valid_chars.txt";
inline constexpr const char* recurrent_file = "patterns_recurrent.txt";
inline constexpr const char* start_file = "patterns_start.txt";
inline constexpr const char* count_report_file = "patterns_and_frequencies.txt";
inline constexpr const char* ranked_file = "patterns_ordered_by_frequency.txt";
inline constexpr const char* code_map_file = "map_varicodes.txt";

// What patterntally reads, the corpus first, then the definition files:
// no output may be one of them.
inline std::vector<std::string> input_files() {
  return {corpus_file, valid_chars_file, recurrent_file, start_file};
}
