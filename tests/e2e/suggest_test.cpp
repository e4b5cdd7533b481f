// varicode suggest end to end: the patterns on standard output, the costs
// compared on standard error, the sample, the usage errors, and the output
// file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string summary(const std::string& sample, const std::vector<std::string>& costs) {
  std::string lines = "sample: " + sample + " websites\n";
  for (const std::string& cost : costs) lines += "bits per website: " + cost + "\n";
  return lines;
}

}  // namespace

// The websites are those of SmallCorpusWorkedOutByHand in suggest_test.cpp
// once "www." is taken off: abcd, abcd, cd, abcd; 50 bits with no recurrent
// patterns, 10 with <abcd>. With <ab>: c and d 4 times, 1 and 2 bits, ab 3
// times, 3 bits, and 7 separators: 35 bits.
TEST(SuggestCommand, CommandLine) {
  struct Row {
    std::string args;
    std::string file;  // a file over the definitions: its name, '=', its bytes
    std::string out;
    std::string err;
    int status;
  };
  const std::string no_patterns = "12.50 with no recurrent patterns";
  const std::string usage_hint = "Try 'varicode --help'.\n";
  const std::vector<Row> rows = {
      // Start patterns are not learnt.
      {" suggest 3", "", "<abcd>\n", summary("4 of 4", {no_patterns, "2.50 with the 1 patterns suggested"}),
       0},
      {" suggest 3", "patterns_recurrent.txt=<ab>\n", "<abcd>\n",
       summary("4 of 4", {no_patterns, "8.75 with patterns_recurrent.txt (1 patterns)",
                          "2.50 with the 1 patterns suggested"}),
       0},
      // Lines 1 and 3, abcd twice: a, b, c and d take 1, 2, 3 and 3 bits, 6
      // separators: 30 bits; <abcd> 1 bit each.
      {" suggest --sample=2 2 sites.txt", "sites.txt=abcd\ncd\nabcd\ncd\n", "<abcd>\n",
       summary("2 of 4", {"15.00 with no recurrent patterns", "1.00 with the 1 patterns suggested"}), 0},
      // Nothing repeats: a, b, c, d 1, 2, 3 and 3 bits, 2 separators.
      {" suggest 5 sites.txt", "sites.txt=ab\ncd\n", "",
       summary("2 of 2", {"6.50 with no recurrent patterns", "6.50 with the 0 patterns suggested"}), 0},
      {" suggest 5 missing.txt", "", "",
       "varicode: cannot read \"missing.txt\": No such file or directory\n" +
           summary("0 of 0", {"0.00 with no recurrent patterns", "0.00 with the 0 patterns suggested"}),
       1},
      {" suggest", "", "", "varicode: suggest needs a number of patterns\n" + usage_hint, 2},
      {" suggest x", "", "", "varicode: invalid number of patterns \"x\"\n" + usage_hint, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args + " " + row.file);
    Scratch s;
    make_scratch(s, "suggest");
    put_file(s, "patterns_valid_chars.txt", "<a>\n<b>\n<c>\n<d>\n<w>\n<.>\n");
    put_file(s, "patterns_start.txt", "<www.>\n");
    put_file(s, "websites.txt", "www.abcd\nabcd\n cd \nwww.abcd\n");
    if (!row.file.empty())
      put_file(s, row.file.substr(0, row.file.find('=')), row.file.substr(row.file.find('=') + 1));
    const RunResult r = run_in(s, varicode, "", "", row.args);
    const bool noted = row.status != 2 && !row.file.starts_with("patterns_recurrent.txt=");
    EXPECT_EQ(row.out, r.out);
    EXPECT_EQ(
        (noted ? "varicode: note: \"patterns_recurrent.txt\" does not exist and reads as empty\n" : "") +
            row.err,
        r.err);
    EXPECT_EQ(row.status, r.status);
  }
}

// The costs suggest gives are those the pipeline gives: on the shipped
// example (start patterns, invalid bytes), varicode report after patterntally
// and bitladder tells the same bits per website, with the example's patterns
// and with those suggested. Standard output may replace
// patterns_recurrent.txt, which is then not compared with.
TEST(SuggestCommand, CostsAreThoseOfThePipeline) {
  Scratch s;
  make_scratch(s, "suggest-example");
  for (const char* name :
       {"websites.txt", "patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    std::filesystem::copy_file(std::filesystem::path(EXAMPLES_DIR) / name, s.dir / name);
  }
  auto report_bits = [&] {
    run_in(s, patterntally);  // status 1: the example has invalid bytes
    EXPECT_EQ(0, run_in(s, bitladder).status);
    const RunResult report = run_in(s, varicode, "", "", " report");
    EXPECT_EQ(0, report.status);
    const std::size_t at = report.out.find("bits per website: ");
    return report.out.substr(at, report.out.find('\n', at) - at);
  };
  const RunResult suggested = run_in(s, varicode, "", "", " suggest --sample=0 20");
  EXPECT_EQ(0, suggested.status);
  EXPECT_EQ(20, std::count(suggested.out.begin(), suggested.out.end(), '\n'));
  EXPECT_NE(std::string::npos,
            suggested.err.find(report_bits() + " with patterns_recurrent.txt (72 patterns)\n"))
      << suggested.err;
  const RunResult again = run_in(s, varicode, ">patterns_recurrent.txt", "", " suggest --sample=0 20");
  EXPECT_EQ(suggested.out, get_file(s, "patterns_recurrent.txt"));
  EXPECT_EQ(std::string::npos, again.err.find("with patterns_recurrent.txt"));
  EXPECT_NE(std::string::npos, suggested.err.find(report_bits() + " with the 20 patterns suggested\n"))
      << suggested.err;
}

// With -o the list goes to a file, replaced only once it is whole: the file
// may be patterns_recurrent.txt, read before as the list to compare with,
// and SIGINT mid-run (the corpus a FIFO that the test holds open) leaves it
// as it was, with no temporary beside it.
TEST(SuggestCommand, OutputFileReplacedWhole) {
  Scratch s;
  make_scratch(s, "suggest-output");
  put_file(s, "patterns_valid_chars.txt", "<a>\n<b>\n<c>\n<d>\n");
  put_file(s, "patterns_recurrent.txt", "<ab>\n");
  put_file(s, "patterns_start.txt", "");
  put_file(s, "websites.txt", "abcd\nabcd\ncd\nabcd\n");
  const RunResult r = run_in(s, varicode, "", "", " suggest -o patterns_recurrent.txt 3");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(
      summary("4 of 4", {"12.50 with no recurrent patterns", "8.75 with patterns_recurrent.txt (1 patterns)",
                         "2.50 with the 1 patterns suggested"}),
      r.err);
  EXPECT_EQ("<abcd>\n", get_file(s, "patterns_recurrent.txt"));
  EXPECT_EQ("varicode: --sample is an option of suggest\nTry 'varicode --help'.\n",
            run_in(s, varicode, "", "", " encode --sample=3 -o x").err);
  // A corpus file that cannot be read leaves the list, and no temporary.
  const std::string files = list_files(s);
  EXPECT_EQ(1, run_in(s, varicode, "", "", " suggest -o patterns_recurrent.txt 3 nosuch.txt").status);
  EXPECT_EQ("<abcd>\n", get_file(s, "patterns_recurrent.txt"));
  EXPECT_EQ(files, list_files(s));

  ASSERT_EQ(0, ::mkfifo((s.dir / "sites.fifo").c_str(), 0644));
  const std::string before = list_files(s);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    if (::chdir(s.dir.c_str()) != 0 || null < 0) ::_exit(126);
    ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
    std::signal(SIGINT, SIG_DFL);
    ::execl(varicode.c_str(), varicode.c_str(), "suggest", "--output=patterns_recurrent.txt", "3",
            "sites.fifo", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  int fifo = -1;  // opens once the program reads it; the deadline is for a broken program
  for (int tries = 0; fifo < 0 && tries < 1000; ++tries) {
    fifo = ::open((s.dir / "sites.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (fifo < 0) ::usleep(10000);
  }
  EXPECT_EQ(5, ::write(fifo, "abcd\n", 5));
  ::kill(pid, SIGINT);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(fifo);
  EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGINT) << "wait status " << raw;
  EXPECT_EQ("<abcd>\n", get_file(s, "patterns_recurrent.txt"));
  EXPECT_EQ(before, list_files(s));
}
