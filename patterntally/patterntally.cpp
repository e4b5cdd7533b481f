#include "patterntally.h"

#include "failure.h"
#include "pattern_file.h"

std::uint64_t count_corpus(LineReader& corpus, const StartMatcher& start, Tokenizer& tokenizer,
                           Output& messages, std::uint64_t first_line_number) {
  std::uint64_t lines = 0;
  std::string_view block;
  while (next_block(corpus, block)) {
    lines += count_block(tokenizer, start, block, first_line_number + lines, messages);
  }
  return lines;
}

std::uint64_t count_into_table(LineReader& corpus, const StartMatcher& start, Tokenizer& tokenizer,
                               unsigned threads, Output& messages, FrequencyTable& table,
                               std::uint64_t first_line_number) {
  if (threads > 1) {
    return count_corpus_in_threads(corpus, start, tokenizer, threads, messages, table, first_line_number);
  }
  const std::uint64_t lines = count_corpus(corpus, start, tokenizer, messages, first_line_number);
  for (auto& [pattern, count] : take_token_counts(tokenizer)) {
    table[pattern] += static_cast<std::int64_t>(count);
  }
  return lines;
}

FrequencyTable seed_frequency_table(const PatternList& valid, const PatternList& recurrent) {
  FrequencyTable table;
  for (const std::string& pattern : valid) table.emplace(pattern, 0);
  for (const std::string& pattern : recurrent) table.emplace(pattern, 0);
  return table;
}

int run_patterntally(unsigned threads) {
  Output& messages = standard_output();
  // 1. The corpus is opened and both outputs emptied before anything is read.
  LineReader corpus = open_lines(corpus_file);
  const std::vector<std::string> inputs = {corpus_file, valid_chars_file, recurrent_file, start_file};
  check_standard_output(inputs);
  Output count_report = create_output(count_report_file, inputs);
  Output ranked = create_output(ranked_file, inputs);
  // 2. Definitions: valid characters first, as the others are checked against them.
  const PatternList valid = read_strings_from_file(valid_chars_file, {}, messages);
  const PatternList recurrent = read_strings_from_file(recurrent_file, valid, messages);
  const PatternList start = read_strings_from_file(start_file, valid, messages);
  // 3. Count.
  FrequencyTable table = seed_frequency_table(valid, recurrent);
  const StartMatcher start_matcher = build_start_matcher(start);
  Tokenizer tokenizer = build_tokenizer(valid, recurrent, start_matcher);
  count_into_table(corpus, start_matcher, tokenizer, threads, messages, table);
  // 4. Rank and write; close in order.
  write_ranked_reports(table, count_report, ranked);
  close_lines(corpus);
  close_output(count_report);
  close_output(ranked);
  close_output(messages);
  return exit_status();
}
