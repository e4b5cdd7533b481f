// Every number of threads gives the files, standard output, standard error
// and exit status of one thread: on the example, and on a corpus of several
// blocks with invalid bytes at every place, CR LF ends, a line longer than a
// block and no line feed at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const char* const outputs[] = {count_report_file, ranked_file};

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

// Where the system starts no more threads (one process at most for the
// user; root is not held to it, so the run is another user's), patterntally
// and varicode encode run on the calling thread alone, and say so once; the
// status line goes without a word. Files and output stay those of -j 1.
TEST(Threads, RunOnTheThreadsThatCouldStart) {
  Scratch s;
  make_scratch(s, "threads-refused");
  for (const char* name :
       {"patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt", "websites.txt"}) {
    fs::copy_file(std::string(EXAMPLES_DIR) + "/" + name, s.dir / name);
  }
  fs::permissions(s.dir, fs::perms::all);
  // The leak checker of a sanitized build wants a thread of its own at exit.
  const std::string limited =
      "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 exec " +
      std::string(::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
      "prlimit --nproc=1 ";
  auto note = [](const std::string& program, const std::string& doing) {
    return program + ": note: " + doing + " on 1 thread; no more could be started: " + std::strerror(EAGAIN) +
           "\n";
  };
  const RunResult one = run_in(s, patterntally, "", limited, " -j 1");
  std::string one_files;
  for (const char* name : outputs) one_files += get_file(s, name);
  const RunResult refused = run_in(s, patterntally, "", limited, " -j 8 --progress");
  EXPECT_EQ(one.status, refused.status);
  EXPECT_TRUE(one.out == refused.out) << "standard output differs";
  EXPECT_EQ(note("patterntally", "counting") + one.err, refused.err);
  std::string files;
  for (const char* name : outputs) files += get_file(s, name);
  EXPECT_TRUE(one_files == files) << "files differ";

  ASSERT_EQ(0, run_in(s, bitladder, "", limited).status);
  const RunResult encoded = run_in(s, varicode, "", limited, " -j 1 encode websites.txt");
  const RunResult encoded_refused = run_in(s, varicode, "", limited, " -j 8 --progress encode websites.txt");
  EXPECT_EQ(encoded.status, encoded_refused.status);
  EXPECT_TRUE(encoded.out == encoded_refused.out) << "codes differ";
  EXPECT_EQ(note("varicode", "encoding") + encoded.err, encoded_refused.err);
}
