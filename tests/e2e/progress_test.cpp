// The status line end to end. Each program reads a named pipe fed in two
// halves 1.5 s apart, so that the line is drawn, while it writes messages to
// the same terminal. On a pseudo-terminal the screen ends as with
// --no-progress; off a terminal nothing is added unless --progress asks for
// plain lines; standard output and the files never change. Last, the control
// bytes that would reach a terminal are shown escaped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Every fourth website holds the invalid "#".
std::string website(int i) {
  return "www.ex" + std::string(i % 4 ? "" : "#") + "ample" + std::to_string(i) + ".org\n";
}
std::string each_pattern_twice(int i) { return "<pattern" + std::to_string(i / 2) + ">\n"; }

struct Case {
  std::string program;
  std::string args;          // after the option tried
  std::string fifo;          // the input
  std::string (*line)(int);  // line i of the input
  std::string status_head;   // how a status line begins
  std::string message;       // a part of each message
};

const Case cases[] = {
    {patterntally, "", "websites.txt", website, "patterntally: ", "IGNORING"},
    {bitladder, "", "patterns_ordered_by_frequency.txt", each_pattern_twice, "bitladder: ", "More than one"},
    {varicode, " encode in.txt", "in.txt", website, "varicode encode: ", "invalid character"},
};

// Lines [0, count) of the input of `c`. Half of a slow one is more than a
// block of the line reader, so that messages are shown before the pause.
std::string input_of(const Case& c, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += c.line(i);
  return bytes;
}

// A new directory with the definitions and the code map of the example, and
// the input of `c` as a named pipe.
void seed(Scratch& s, const Case& c) {
  make_scratch(s, "progress");
  for (const char* name :
       {"patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt", "websites.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, s.dir / name);
  }
  ASSERT_EQ(0, run_in(s, patterntally, ">/dev/null").status);
  ASSERT_EQ(0, run_in(s, bitladder, ">/dev/null").status);
  fs::remove(s.dir / c.fifo);
  ASSERT_EQ(0, ::mkfifo((s.dir / c.fifo).c_str(), 0600));
}

// Writes `input` into the pipe once the program opens it: when `pause`, half
// of it, then the rest 1.5 s later. Gives up after 60 s without a reader.
std::thread feed(const fs::path& fifo, const std::string& input, bool pause) {
  return std::thread([fifo, &input, pause] {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);  // a reader gone fails the write instead
    int fd = -1;
    for (const auto end = Clock::now() + std::chrono::seconds(60); fd < 0 && Clock::now() < end;) {
      fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, 0);
    auto put = [fd](std::string_view part) {
      for (ssize_t n = 0; !part.empty(); part.remove_prefix(static_cast<std::size_t>(n))) {
        if ((n = ::write(fd, part.data(), part.size())) <= 0) return;
      }
    };
    const std::size_t half = pause ? input.size() / 2 : input.size();
    put(std::string_view(input).substr(0, half));
    if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    put(std::string_view(input).substr(half));
    ::close(fd);
  });
}

struct Seen {
  std::string terminal;                      // on a terminal: standard output and error together
  RunResult result;                          // off a terminal
  std::map<std::string, std::string> files;  // every file of the directory
  double seconds = 0;
};

// Runs `c` with `option`, fed `input`, its standard output and error on a
// pseudo-terminal of 200 columns, or to files.
Seen run(const Scratch& s, const Case& c, const std::string& option, const std::string& input, bool pause,
         bool on_terminal) {
  Seen r;
  const auto start = Clock::now();
  std::thread feeder;
  if (on_terminal) {
    feeder = feed(s.dir / c.fifo, input, pause);  // waits for the program to open the pipe
    r.terminal = run_on_terminal(s, "exec '" + c.program + "' " + option + c.args, r.result.status);
  } else {
    feeder = feed(s.dir / c.fifo, input, pause);
    r.result = run_in(s, c.program, "", "exec ", " " + option + c.args);
  }
  feeder.join();
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const auto& file : fs::directory_iterator(s.dir)) {
    if (file.is_regular_file()) r.files[file.path().filename()] = get_file(s, file.path().filename());
  }
  return r;
}

// The rows a terminal shows after `bytes`: "\r", "\n", "\033[K" (erase to
// the end of the row) and printed bytes, in rows that do not wrap.
std::vector<std::string> screen_of(std::string_view bytes) {
  std::vector<std::string> rows(1);
  std::size_t col = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::string& row = rows.back();
    if (bytes[i] == '\r') {
      col = 0;
    } else if (bytes[i] == '\n') {
      rows.emplace_back(col, ' ');
    } else if (bytes.substr(i).starts_with("\033[K")) {
      row.resize(std::min(col, row.size()));
      i += 2;
    } else {
      if (row.size() <= col) row.resize(col + 1, ' ');
      row[col++] = bytes[i];
    }
  }
  return rows;
}

}  // namespace

TEST(Progress, TerminalEndsAsWithoutTheLine) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    Scratch s;
    seed(s, c);
    const std::string input = input_of(c, 50000);
    const Seen without = run(s, c, "--no-progress", input, false, true);
    ASSERT_NE(2, without.result.status);
    const Seen with = run(s, c, "", input, true, true);
    EXPECT_EQ(without.result.status, with.result.status);
    EXPECT_TRUE(without.files == with.files) << "output files differ";
    // Drawn, and then messages came, which cleared it first.
    const std::size_t drawn = with.terminal.find("\r" + c.status_head);
    EXPECT_NE(std::string::npos, drawn);
    EXPECT_LT(drawn, with.terminal.rfind(c.message));
    EXPECT_EQ(std::string::npos, without.terminal.find('\033'));
    const std::vector<std::string> got = screen_of(with.terminal), want = screen_of(without.terminal);
    const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    EXPECT_TRUE(g == got.end() && w == want.end())
        << "row " << g - got.begin() << ": \"" << (g == got.end() ? "" : *g)
        << "\", without the status line \"" << (w == want.end() ? "" : *w) << '"';

    // A run shorter than half a second adds nothing, with --progress too.
    // Tried again when this machine was too busy to make it that short.
    const std::string short_input = input_of(c, 200);
    const Seen short_without = run(s, c, "--no-progress", short_input, false, true);
    bool short_run = false;
    for (int attempt = 0; attempt < 5 && !short_run; ++attempt) {
      for (const std::string option : {"", "--progress"}) {
        const Seen r = run(s, c, option, short_input, false, true);
        if (r.seconds >= 0.5) break;
        short_run = option == "--progress";
        EXPECT_TRUE(short_without.terminal == r.terminal) << "option \"" << option << "\"";
        EXPECT_EQ(short_without.result.status, r.result.status);
      }
    }
    EXPECT_TRUE(short_run) << "no run was shorter than half a second";
  }
}

TEST(Progress, OffTerminalNothingUnlessAsked) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    Scratch s;
    seed(s, c);
    const std::string input = input_of(c, 50000);
    const Seen without = run(s, c, "--no-progress", input, false, false);
    ASSERT_NE(2, without.result.status);
    for (const std::string option : {"", "--progress"}) {
      SCOPED_TRACE("option \"" + option + "\"");
      const Seen with = run(s, c, option, input, true, false);
      EXPECT_EQ(without.result.status, with.result.status);
      EXPECT_TRUE(without.result.out == with.result.out) << "standard output differs";
      EXPECT_TRUE(without.files == with.files) << "output files differ";
      // --progress adds whole status lines, never redrawn, between the messages.
      const std::string& err = with.result.err;
      std::string messages;
      int status_lines = 0;
      for (std::size_t at = 0, end = 0; at < err.size(); at = end + 1) {
        end = std::min(err.find('\n', at), err.size());
        if (err.compare(at, c.status_head.size(), c.status_head) == 0) {
          ++status_lines;
        } else {
          messages += err.substr(at, end + 1 - at);
        }
      }
      EXPECT_TRUE(without.result.err == messages) << "standard error differs besides the status lines";
      EXPECT_EQ(std::string::npos, err.find_first_of("\r\033"));
      EXPECT_TRUE(err.empty() || err.back() == '\n');
      EXPECT_EQ(!option.empty(), status_lines > 0);
    }
  }
}

// On a terminal, the control bytes of what the programs write, input bytes
// quoted in messages and failure lines or decoded patterns, are shown
// escaped; the status line is kept off so that the screen is exact. The
// pseudo-terminal turns each line feed into CR LF.
TEST(Terminal, ControlBytesShownEscaped) {
  struct Row {
    std::string what, command;
    std::map<std::string, std::string> files;
    std::string shown;
    int status = 1;
  };
  const std::vector<Row> rows = {
      {"patterntally messages",
       "exec '" + patterntally + "' --no-progress",
       {{"patterns_valid_chars.txt", "<a>\n<]>\n<0>\n<\x07>\n<\x7f>\n<\x80>\n<\t>\n"},
        {"patterns_recurrent.txt", ""},
        {"patterns_start.txt", ""},
        {"websites.txt", "a\x1b]0\x07\x7f\x80\ta\n"}},
       "- Invalid character \"\\x1b\" in line 1 (\"a\\x1b]0\\x07\\x7f\x80\ta\") in file \"websites.txt\": "
       "IGNORING CHARACTER\n",
       0},
      {"varicode decode, a line that does not decode",
       "exec '" VARICODE_PATH "' --no-progress decode in.txt",
       {{"map_varicodes.txt", "1 <\x1b[31m>\n11 <\r\x80>\n"}, {"in.txt", "1001\n1\x1b\n11\n"}},
       "varicode: in.txt:2: invalid character \"\\x1b\"\n\\x1b[31m\\x1b[31m\n\n\\x0d\x80\n"},
      {"a failure line",
       "exec '" VARICODE_PATH "' --no-progress decode \"$(printf 'a\\033b')\"",
       {{"map_varicodes.txt", "1 <a>\n"}},
       "varicode: cannot read \"a\\x1bb\": No such file or directory\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Scratch s;
    make_scratch(s, "terminal");
    for (const auto& [name, bytes] : row.files) put_file(s, name, bytes);
    int status = 0;
    std::string shown = run_on_terminal(s, row.command, status);
    for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;) shown.replace(at, 2, "\n");
    EXPECT_EQ(row.status, status);
    EXPECT_EQ(row.shown, shown);
  }
}
