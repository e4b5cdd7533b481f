// Corpora far larger than memory, fed to patterntally through a named pipe by
// a writer process: more lines than 32 bits can number, and more tokens of
// one kind than 32 bits can count; and a ranked pattern file with more lines
// than bitladder's table of lines can tell apart by the hash bits it keeps.
// They move gigabytes, so all are skipped unless PATTERNLADDER_HUGE_TESTS=1:
//   PATTERNLADDER_HUGE_TESTS=1 ctest --test-dir BUILD_DIR -L huge --output-on-failure
// Besides the exact outputs, they check that memory stays flat: the largest
// resident size of any child process (the program, the shell that starts it
// and the writer) must stay under a fixed bound, whatever the stream's size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "test_support.h"

namespace {

// The bound on the largest resident size of a child, in KiB. The programs
// read in blocks of a few hundred KiB; sanitizer builds need more room.
constexpr long peak_rss_limit_kib = 128 * 1024;

bool enabled() {
  const char* flag = std::getenv("PATTERNLADDER_HUGE_TESTS");
  return flag != nullptr && std::string(flag) == "1";
}

// Starts a process that opens `fifo` for writing, writes `block` `repeats`
// times and then `tail`, in large writes, and exits.
pid_t start_writer(const std::filesystem::path& fifo, const std::string& block, std::uint64_t repeats,
                   const std::string& tail) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int fd = ::open(fifo.c_str(), O_WRONLY);
  if (fd < 0) ::_exit(2);
  ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);  // fewer switches; the default will do too
  auto put = [fd](const char* bytes, std::size_t size) {
    while (size != 0) {
      const ssize_t n = ::write(fd, bytes, size);
      if (n <= 0) ::_exit(3);
      bytes += n;
      size -= static_cast<std::size_t>(n);
    }
  };
  for (std::uint64_t i = 0; i < repeats; ++i) put(block.data(), block.size());
  put(tail.data(), tail.size());
  ::_exit(0);
}

struct StreamRun {
  RunResult result;
  int writer_status = -1;
  double seconds = 0;
  long peak_rss_kib = 0;
};

// Runs patterntally in `s` with websites.txt a named pipe fed as above.
StreamRun run_on_stream(const Scratch& s, const std::string& block, std::uint64_t repeats,
                        const std::string& tail) {
  const std::filesystem::path fifo = s.dir / "websites.txt";
  StreamRun run;
  if (::mkfifo(fifo.c_str(), 0600) != 0) return run;
  const auto begin = std::chrono::steady_clock::now();
  const pid_t writer = start_writer(fifo, block, repeats, tail);
  run.result = run_in(s, patterntally);
  int status = 0;
  if (::waitpid(writer, &status, 0) == writer && WIFEXITED(status)) run.writer_status = WEXITSTATUS(status);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  run.peak_rss_kib = usage.ru_maxrss;
  std::printf("%.1f s, largest child resident size %ld KiB\n", run.seconds, run.peak_rss_kib);
  ::testing::Test::RecordProperty("seconds", std::to_string(run.seconds));
  ::testing::Test::RecordProperty("peak_rss_kib", std::to_string(run.peak_rss_kib));
  return run;
}

}  // namespace

// 2^32 + 1 empty lines, then a line with an invalid character: its message
// must give the line number 4294967298, which 32 bits cannot hold.
TEST(HugeStream, LineNumbersPast32Bits) {
  if (!enabled()) GTEST_SKIP() << "set PATTERNLADDER_HUGE_TESTS=1 to run";
  Scratch s;
  make_scratch(s, "huge-lines");
  put_file(s, "patterns_valid_chars.txt", "<a>\n");
  put_file(s, "patterns_recurrent.txt", "");
  put_file(s, "patterns_start.txt", "");
  const std::string block(std::size_t{1} << 20, '\n');
  const StreamRun run = run_on_stream(s, block, std::uint64_t{1} << 12, "\n#\n");
  EXPECT_EQ(0, run.writer_status);
  EXPECT_EQ(0, run.result.status);
  EXPECT_EQ("", run.result.err);
  EXPECT_EQ(invalid_char('#', 4294967298, "#"), run.result.out);
  EXPECT_EQ("0\t<a>\n", get_file(s, "patterns_and_frequencies.txt"));
  EXPECT_EQ("<a>\n", get_file(s, "patterns_ordered_by_frequency.txt"));
  EXPECT_LT(run.peak_rss_kib, peak_rss_limit_kib);
}

// 2^32 + 3 copies of one valid character, in lines of 4,096 and a last one of
// 3: the count passes every 32-bit limit and must be exact.
TEST(HugeStream, CountPast32Bits) {
  if (!enabled()) GTEST_SKIP() << "set PATTERNLADDER_HUGE_TESTS=1 to run";
  Scratch s;
  make_scratch(s, "huge-count");
  put_file(s, "patterns_valid_chars.txt", "<a>\n<b>\n");
  put_file(s, "patterns_recurrent.txt", "");
  put_file(s, "patterns_start.txt", "");
  std::string line(4096, 'a');
  line += '\n';
  std::string block;
  for (int i = 0; i < 256; ++i) block += line;  // 2^20 'a' a block
  const StreamRun run = run_on_stream(s, block, std::uint64_t{1} << 12, "aaa");
  EXPECT_EQ(0, run.writer_status);
  EXPECT_EQ(0, run.result.status);
  EXPECT_EQ("", run.result.err);
  EXPECT_EQ("", run.result.out);
  EXPECT_EQ("4294967299\t<a>\n0\t<b>\n", get_file(s, "patterns_and_frequencies.txt"));
  EXPECT_EQ("<a>\n<b>\n", get_file(s, "patterns_ordered_by_frequency.txt"));
  EXPECT_LT(run.peak_rss_kib, peak_rss_limit_kib);
}

// 2^23 + 1000 distinct lines grow bitladder's table of lines past 2^24 slots,
// where growing must hash the lines again, then every 4,096th line comes
// again and must be found. The code map is checked in one pass: each code is
// valid, one longer than the last when the last length is used up, and has
// as many valid codes of its length below it as stand before it in the map.
TEST(HugeStream, BitladderLinesPast2To23) {
  if (!enabled()) GTEST_SKIP() << "set PATTERNLADDER_HUGE_TESTS=1 to run";
  Scratch s;
  make_scratch(s, "huge-bitladder");
  const std::uint64_t lines = (std::uint64_t{1} << 23) + 1000;
  std::string input, out;
  for (std::uint64_t i = 0; i < lines; ++i) input += "<" + std::to_string(i) + ">\n";
  for (std::uint64_t i = 0; i < lines; i += 4096) {
    input += "<" + std::to_string(i) + ">\n";
    out += repeated("<" + std::to_string(i) + ">");
  }
  put_file(s, "patterns_ordered_by_frequency.txt", input);
  input = std::string();
  const auto begin = std::chrono::steady_clock::now();
  const RunResult r = run_in(s, bitladder);
  std::printf("%.1f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.err);

  // fib[m]: the number of valid codes of length m (1, 1, 2, 3, 5, ...).
  std::uint64_t fib[64] = {0, 1};
  for (int m = 2; m < 64; ++m) fib[m] = fib[m - 1] + fib[m - 2];
  // The valid codes of c's length below c: for each '1' after a '1' (not the
  // last), those with a '0' there, then any valid code of the rest.
  auto rank = [&](const std::string& c) {
    std::uint64_t below = 0;
    for (std::size_t j = 1; j + 1 < c.size(); ++j) {
      if (c[j] == '1' && c[j - 1] == '1') below += fib[c.size() - j - 1];
    }
    return below;
  };
  std::ifstream map(s.dir / "map_varicodes.txt");
  std::string line, code;
  std::uint64_t n = 0, of_length = 0;
  while (std::getline(map, line)) {
    const std::size_t space = line.find(' ');
    ASSERT_EQ("<" + std::to_string(n) + ">", line.substr(space + 1)) << "line " << n + 1;
    const std::size_t length = code.size() + (of_length == fib[code.size()] ? 1 : 0);
    if (length != code.size()) of_length = 0;
    code = line.substr(0, space);
    ASSERT_EQ(length, code.size()) << "line " << n + 1;
    ASSERT_TRUE(code.front() == '1' && code.back() == '1' && code.find("00") == std::string::npos) << code;
    ASSERT_EQ(of_length, rank(code)) << code;
    ++of_length;
    ++n;
  }
  EXPECT_EQ(lines, n);
  out += codes_summary(lines, code.size());
  EXPECT_EQ(out, r.out);
}
