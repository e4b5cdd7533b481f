#include "patterntally.h"

#include <utility>

#include "messages.h"
#include "output.h"
#include "pattern_file.h"
#include "progress.h"

void write_invalid_byte_messages(Output& messages, const std::vector<InvalidByte>& invalid_bytes,
                                 std::uint64_t first_line_number) {
  for (const InvalidByte& m : invalid_bytes) {
    put_invalid_byte_message([&](std::string_view piece) { write_output(messages, piece); }, m.byte,
                             first_line_number + m.line - 1, m.trimmed_line);
  }
}

std::uint64_t count_block(Tokenizer& tokenizer, std::string_view block, std::uint64_t first_line_number,
                          Output& messages) {
  const RangeCount range = count_range(tokenizer, block);
  write_invalid_byte_messages(messages, range.invalid_bytes, first_line_number);
  return range.lines;
}

std::uint64_t count_corpus(LineReader& corpus, Tokenizer& tokenizer, Output& messages,
                           std::uint64_t first_line_number) {
  std::uint64_t lines = 0;
  std::string_view block;
  while (next_block(corpus, block)) {
    lines += count_block(tokenizer, block, first_line_number + lines, messages);
  }
  return lines;
}

std::uint64_t count_into_table(LineReader& corpus, Tokenizer& tokenizer, unsigned threads, Output& messages,
                               FrequencyTable& table, std::uint64_t first_line_number,
                               std::vector<Tokenizer>* kept_copies) {
  if (threads > 1) {
    return count_corpus_in_threads(corpus, tokenizer, threads, messages, table, first_line_number,
                                   thread_block_size, kept_copies);
  }
  const std::uint64_t lines = count_corpus(corpus, tokenizer, messages, first_line_number);
  if (kept_copies == nullptr) add_token_counts(tokenizer, table);
  return lines;
}

void add_token_counts(Tokenizer& tokenizer, FrequencyTable& table) {
  for (auto& [pattern, count] : take_token_counts(tokenizer))
    table[pattern] += static_cast<std::int64_t>(count);
}

void add_token_counts(Tokenizer& tokenizer, std::vector<Tokenizer>& copies, FrequencyTable& table) {
  add_token_counts(tokenizer, table);
  for (Tokenizer& t : copies) add_token_counts(t, table);
}

namespace {

// Moves `patterns` into `table` at count 0, from the back, giving the list's
// memory back as it empties: with 100,000 patterns the list and the table,
// each whole, would stand together at the run's peak.
void move_into_table(PatternList& patterns, FrequencyTable& table) {
  while (!patterns.empty()) {
    table.emplace(std::move(patterns.back()), 0);
    patterns.pop_back();
    if (patterns.size() <= patterns.capacity() / 2) patterns.shrink_to_fit();
  }
}

}  // namespace

PatternCounter make_pattern_counter(Definitions definitions) {
  PatternCounter counter{{}, build_tokenizer(definitions.valid, definitions.recurrent, definitions.start)};
  move_into_table(definitions.valid, counter.frequencies);
  move_into_table(definitions.recurrent, counter.frequencies);
  return counter;
}

PatternCounter read_pattern_counter(Output& messages, DefinitionFiles files) {
  return make_pattern_counter(read_definition_files(messages, std::move(files)));
}

int run_patterntally(unsigned threads) {
  Output& messages = standard_output();
  // 1. Every input is opened before the outputs are started, so that one
  //    that cannot be read stops the run with nothing replaced; then both
  //    outputs are started before anything is read. A first read that fails
  //    later stops it too (`stop`).
  LineReader corpus = open_lines(corpus_file);
  DefinitionFiles definition_files = open_definition_files();
  if (input_unreadable()) return exit_status();
  check_standard_output(input_files());
  Output count_report = create_output(count_report_file, input_files());
  Output ranked = create_output(ranked_file, input_files());
  Output* const reports[] = {&count_report, &ranked};
  auto stop = [&] {
    discard_output(count_report);
    discard_output(ranked);
    close_lines(corpus);
    close_output(messages);
    return exit_status();
  };
  // 2. Definitions, then count.
  PatternCounter counter = read_pattern_counter(messages, std::move(definition_files));
  if (input_unreadable()) return stop();
  start_reading_progress("patterntally", corpus);
  count_into_table(corpus, counter.tokenizer, threads, messages, counter.frequencies);
  stop_progress();
  if (input_unreadable()) return stop();
  // 3. Rank and write; the two reports replace their files together.
  write_ranked_reports(counter.frequencies, count_report, ranked);
  close_lines(corpus);
  close_outputs(reports);
  close_output(messages);
  return exit_status();
}
