// Counting on threads gives exactly the lines, counts and messages of one
// thread, for any number of threads and any size of block, so wherever the
// blocks are cut: in a line, next to an invalid byte, inside a long line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "patterntally.h"
#include "test_support.h"

namespace {

struct Counted {
  std::uint64_t lines = 0;
  std::string messages;
  std::map<std::string, std::uint64_t> counts;  // above 0 only
};

std::string random_corpus(std::mt19937& rng) {
  const std::string bytes = "abcd:/.. \t\r#\xff";
  std::string corpus;
  for (int line = 0; line < 3000; ++line) {
    const std::size_t length = line % 500 == 7 ? 2000 : rng() % 40;  // some long lines
    for (std::size_t i = 0; i < length; ++i) corpus += bytes[rng() % bytes.size()];
    if (line == 1000) {
      for (int i = 0; i < 5000; ++i) corpus += "a#\n";  // more messages than a part holds
    }
    corpus += '\n';
  }
  return corpus + "ab:cd#";  // a last line without a line feed
}

}  // namespace

TEST(Threads, SameAsOneThread) {
  std::mt19937 rng(11);
  Scratch s;
  make_scratch(s, "threads");
  const std::string path = (s.dir / corpus_file).string();
  std::ofstream(path, std::ios::binary) << random_corpus(rng);
  const PatternList recurrent = {"abc", "ab", "cd", "d."};
  const PatternList start = {"ab:", "c"};
  // Without a valid blank the table walks the line ends; with one, lines are
  // cut first.
  for (const PatternList& valid : {PatternList{"a", "b", "c", "d", ":", "/", "."},
                                   PatternList{"a", "b", "c", "d", ":", "/", ".", " "}}) {
    const Tokenizer built = build_tokenizer(valid, recurrent, start);
    Counted one;
    {
      LineReader corpus = open_lines(path);
      Output messages = memory_output();
      Tokenizer t = built;
      one.lines = count_corpus(corpus, t, messages);
      one.messages = messages.buffer;
      for (auto& [token, count] : take_token_counts(t)) one.counts[token] += count;
    }
    ASSERT_GT(one.messages.size(), 100000u);
    for (const unsigned threads : {2u, 5u}) {
      for (const std::size_t block_size :
           {std::size_t{16}, std::size_t{300}, std::size_t{4096}, thread_block_size}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, blocks of " + std::to_string(block_size));
        LineReader corpus = open_lines(path);
        Output messages = memory_output();
        Tokenizer t = built;
        FrequencyTable table;
        Counted many;
        many.lines = count_corpus_in_threads(corpus, t, threads, messages, table, 1, block_size);
        many.messages = messages.buffer;
        for (const auto& [token, count] : table) {
          if (count != 0) many.counts[token] = static_cast<std::uint64_t>(count);
        }
        EXPECT_EQ(one.lines, many.lines);
        EXPECT_EQ(one.counts, many.counts);
        EXPECT_TRUE(one.messages == many.messages) << "messages differ";
      }
    }
  }
}
