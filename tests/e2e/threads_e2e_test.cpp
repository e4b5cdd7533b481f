// Every number of threads gives the files, standard output, standard error
// and exit status of one thread: on the example, and on a corpus of several
// blocks with invalid bytes at every place, CR LF ends, a line longer than a
// block and no line feed at the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "scratch.h"

namespace {

namespace fs = std::filesystem;

const char* const outputs[] = {"patterns_and_frequencies.txt", "patterns_ordered_by_frequency.txt"};

std::string generated_corpus() {
  std::mt19937 rng(5);
  const std::string valid = "abcdefgh.:/-";
  const std::string invalid = "# \r\x01\xe9";
  std::string corpus;
  while (corpus.size() < (std::size_t{3} << 20)) {
    const std::size_t length = rng() % 1000 == 0 ? rng() % 3000 : rng() % 60;
    for (std::size_t i = 0; i < length; ++i) {
      corpus += rng() % 64 == 0 ? invalid[rng() % invalid.size()] : valid[rng() % valid.size()];
    }
    corpus += rng() % 8 == 0 ? "\r\n" : "\n";
  }
  corpus += std::string(3 << 20, 'a') + "#\n";  // longer than a block
  return corpus + "https://www.ab#";
}

}  // namespace

TEST(Threads, SameFilesAndMessagesForEveryCount) {
  const std::string examples = EXAMPLES_DIR;
  const std::string corpus = generated_corpus();
  for (const bool example : {true, false}) {
    Scratch s;
    make_scratch(s, "threads");
    for (const char* name : {"patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
      fs::copy_file(examples + "/" + name, s.dir / name);
    }
    if (example) {
      fs::copy_file(examples + "/websites.txt", s.dir / "websites.txt");
    } else {
      put_file(s, "websites.txt", corpus);
    }
    RunResult one;
    std::string one_files;
    for (int threads = 1; threads <= 8; ++threads) {
      SCOPED_TRACE((example ? "example, " : "generated, ") + std::to_string(threads) + " threads");
      const RunResult r = run_in(s, patterntally, "", "exec ", " -j " + std::to_string(threads));
      std::string files;
      for (const char* name : outputs) files += get_file(s, name);
      if (threads == 1) {
        one = r;
        one_files = files;
        EXPECT_NE("", r.out);
        continue;
      }
      EXPECT_EQ(one.status, r.status);
      EXPECT_TRUE(one.out == r.out) << "standard output differs";
      EXPECT_EQ(one.err, r.err);
      EXPECT_TRUE(one_files == files) << "files differ";
    }
  }
}
