// One run of patterntally in the working directory: read the definition
// files and the corpus, count every token, and write the count report and
// the ranked pattern file (see file_names.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file_names.h"
#include "line_reader.h"
#include "output.h"
#include "ranking.h"
#include "tokenizer.h"

// Writes the message of each invalid byte of a range whose first line is
// `first_line_number`.
void write_invalid_byte_messages(Output& messages, const std::vector<InvalidByte>& invalid_bytes,
                                 std::uint64_t first_line_number);

// count_range, then its messages: returns the number of lines.
std::uint64_t count_block(Tokenizer& tokenizer, std::string_view block, std::uint64_t first_line_number,
                          Output& messages);

// Reads every line of `corpus`: trims it, removes its start pattern, counts
// its tokens in `tokenizer` and reports its invalid bytes to `messages`,
// numbering its lines from `first_line_number`. Returns the number of lines
// read.
std::uint64_t count_corpus(LineReader& corpus, Tokenizer& tokenizer, Output& messages,
                           std::uint64_t first_line_number = 1);

// The bytes a thread reads at a time; a longer line grows its block.
inline constexpr std::size_t thread_block_size = std::size_t{1} << 18;

// Counts every line of `corpus` as count_corpus does, on `threads` threads,
// `tokenizer` and copies of it; adds the token counts of all to `table`,
// which leaves them counting from 0 again. With `kept_copies`, the copies
// are kept there for the next call instead, and the counts stay in them and
// in `tokenizer` until the caller adds them (add_token_counts). Messages are
// written in line order, and a read failure is reported after them, as by
// one thread. Returns the number of lines.
std::uint64_t count_corpus_in_threads(LineReader& corpus, Tokenizer& tokenizer, unsigned threads,
                                      Output& messages, FrequencyTable& table,
                                      std::uint64_t first_line_number = 1,
                                      std::size_t block_size = thread_block_size,
                                      std::vector<Tokenizer>* kept_copies = nullptr);

// Counts `corpus` into `table` on `threads` threads, or in one pass when it
// is 1, numbering its lines from `first_line_number`; returns the number of
// lines. With `kept_copies`, as count_corpus_in_threads, the counts stay in
// the tokenisers, on one thread too.
std::uint64_t count_into_table(LineReader& corpus, Tokenizer& tokenizer, unsigned threads, Output& messages,
                               FrequencyTable& table, std::uint64_t first_line_number = 1,
                               std::vector<Tokenizer>* kept_copies = nullptr);

// Adds the counts that `tokenizer` holds to `table`, and resets them.
void add_token_counts(Tokenizer& tokenizer, FrequencyTable& table);

// The same for `tokenizer` and the threads' `copies` of it.
void add_token_counts(Tokenizer& tokenizer, std::vector<Tokenizer>& copies, FrequencyTable& table);

// The tokeniser and the frequency table that counting fills, made from the
// three definition files.
struct PatternCounter {
  FrequencyTable frequencies;  // seeded, every count 0
  Tokenizer tokenizer;
};

// The pattern counter of the definition lists: every valid-character entry
// and recurrent pattern at count 0, and the tokeniser of all three.
PatternCounter make_pattern_counter(Definitions definitions);

// read_definition_files, and the pattern counter of what it read.
PatternCounter read_pattern_counter(Output& messages, DefinitionFiles files = open_definition_files());

// The whole run, counting on `threads` threads; returns the exit status (0,
// or 1 after a reported failure). Every input is opened before either output
// is created: one that exists but cannot be read ends the run there, and so
// does one whose first read fails, with both outputs left as they were.
int run_patterntally(unsigned threads = 1);
