// `varicode suggest`: reads a sample of websites evenly from its files,
// learns recurrent patterns from it (suggest.h), writes them, and tells on
// standard error what the sample costs with none, with the current patterns
// and with those suggested.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "even_sample.h"
#include "file_names.h"
#include "line_reader.h"
#include "messages.h"
#include "output.h"
#include "pattern_file.h"
#include "progress.h"
#include "start_patterns.h"
#include "suggest.h"
#include "trim.h"

namespace {

// Whether `name` is the file that standard output writes.
bool is_standard_output(const char* name) {
  struct stat file {};
  struct stat out {};
  return ::stat(name, &file) == 0 && ::fstat(1, &out) == 0 && file.st_dev == out.st_dev &&
         file.st_ino == out.st_ino;
}

void write_standard_error(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The websites of `inputs` as they are tokenised (trimmed, without their
// start pattern), `sample.target` of them taken evenly; `sample.seen` tells
// how many were read.
std::vector<std::string> read_sample(const std::vector<std::string>& inputs, const StartMatcher& start,
                                     EvenSample& sample) {
  for (const std::string& file : inputs) {
    LineReader reader = file == "-" ? standard_input_lines(file) : open_lines(file, true);
    std::string_view line;
    while (next_line(reader, line)) {
      line = trim_view(line);
      offer(sample, line.substr(start_pattern_length(start, line)));
    }
    close_lines(reader);
  }
  return take(sample);
}

// The status line: patterns chosen of `n`, and the cost so far in hundredths
// of a bit per website. Returns what the learner tells it through.
std::function<void(std::size_t, std::uint64_t)> show_learning(std::size_t n, std::size_t websites) {
  static std::atomic<std::uint64_t> centibits{0};
  start_progress([n](double) {
    const std::uint64_t cost = centibits.load();
    return "varicode suggest: " + std::to_string(progress_done.load()) + " of " + std::to_string(n) +
           " patterns, " + std::to_string(cost / 100) + "." + std::to_string(cost / 10 % 10) +
           std::to_string(cost % 10) + " bits per website";
  });
  return [websites](std::size_t chosen, std::uint64_t bits) {
    progress_done.store(chosen);
    centibits.store(websites == 0 ? 0 : (bits * 100 + websites / 2) / websites);
  };
}

// What the sample costs with no patterns, with the current ones (when
// `compare_current`) and with those suggested.
std::string cost_summary(const std::vector<std::string>& texts, std::uint64_t websites,
                         const Definitions& definitions, bool compare_current, const PatternList& suggested) {
  const auto bits_with = [&](const PatternList& recurrent) {
    return tokenize_sample(texts, definitions.valid, recurrent).bits;
  };
  std::string summary = sample_line(texts.size(), websites);
  summary += bits_per_website_line(bits_with({}), texts.size(), with_no_patterns);
  if (compare_current) {
    summary += bits_per_website_line(bits_with(definitions.recurrent), texts.size(),
                                     with_pattern_file(recurrent_file, definitions.recurrent.size()));
  }
  summary += bits_per_website_line(bits_with(suggested), texts.size(), with_suggested(suggested.size()));
  return summary;
}

}  // namespace

int run_suggest(std::size_t n, const std::vector<std::string>& files, std::uint64_t sample_lines,
                const std::string& output) {
  // 1. The files read, which standard output and the output may not be.
  //    patterns_recurrent.txt is read only to compare with, before anything
  //    is written: the output may replace it ("varicode suggest -o
  //    patterns_recurrent.txt 100").
  const std::vector<std::string> corpus = {corpus_file};
  const std::vector<std::string>& inputs = files.empty() ? corpus : files;
  std::vector<std::string> read = {valid_chars_file, start_file};
  read.insert(read.end(), inputs.begin(), inputs.end());
  if (std::find(inputs.begin(), inputs.end(), "-") != inputs.end() && !check_standard_input()) {
    return exit_status();
  }
  check_standard_output(read);
  // 2. An output that cannot be created ends the run before the learning.
  Output named = output.empty() ? memory_output() : create_output(output, read);
  if (named.failed) return exit_status();
  // 3. The definitions and the sample. An input that cannot be read leaves
  // the output as it was.
  auto stop = [&] {
    discard_output(named);
    return exit_status();
  };
  Output ignored = memory_output();
  const Definitions definitions = read_definition_files(ignored);
  if (input_unreadable()) return stop();
  const bool compare_current = ::access(recurrent_file, F_OK) == 0 && !is_standard_output(recurrent_file);
  EvenSample sample;
  sample.target = sample_lines;
  const std::vector<std::string> texts = read_sample(inputs, build_start_matcher(definitions.start), sample);
  if (input_unreadable() && !output.empty()) return stop();  // the list on standard output is still written
  std::uint64_t bytes = 0;
  for (const std::string& text : texts) bytes += text.size() + 1;
  if (bytes >= UINT32_MAX) {  // tokens are numbered in 32 bits
    report_problem(sample_too_large);
    return stop();
  }
  // 4. The learning, the patterns written, and what they save.
  const PatternList suggested = suggest_patterns(texts, definitions.valid, n, show_learning(n, texts.size()));
  stop_progress();
  Output& out = output.empty() ? standard_output() : named;
  for (const std::string& pattern : suggested) {
    write_output(out, "<" + pattern + ">\n");
  }
  close_output(out);
  write_standard_error(cost_summary(texts, sample.seen, definitions, compare_current, suggested));
  return exit_status();
}
