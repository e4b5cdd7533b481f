// varicode end to end: what it writes for each line read, what it reports
// and its exit status; and its report of the shipped example against the
// runs of patterntally and of varicode encode.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)  // gcc; clang below
#define UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace fs = std::filesystem;

namespace {

// Start patterns "d:" and "d://"; "abc" holds "ab"; ".c" overlaps "c".
const std::map<std::string, std::string> definitions = {
    {"patterns_valid_chars.txt", "<a>\n<b>\n<c>\n<d>\n<.>\n<:>\n</>\n"},
    {"patterns_recurrent.txt", "<ab>\n<abc>\n<.c>\n"},
    {"patterns_start.txt", "<d:>\n<d://>\n"},
    {"map_varicodes.txt",
     "1 <a>\n11 <b>\n101 <ab>\n111 <c>\n1011 <.c>\n1101 <abc>\n1111 <.>\n10101 <d>\n10111 <:>\n11011 </>\n"},
};

std::string message(const std::string& what) { return "varicode: " + what + "\n"; }

const std::string usage_hint = "Try 'varicode --help'.\n";

}  // namespace

TEST(VaricodeCommand, CommandLine) {
  struct Row {
    std::string name;
    std::map<std::string, std::string> files;  // over the definitions; "<none>" removes one, "<dir>" makes
                                               // it a directory
    std::string args;
    std::string input;
    std::string out;
    std::string err;
    int status;
  };
  const std::vector<Row> rows = {
      // "d://" is the longer start pattern; then abc .c ab.
      {"encode",
       {},
       "encode",
       "d://abc.cab\n",
       "110100101100101\n",
       message("note: websites that will not decode as read: 1 lost a start pattern, 0 lost invalid bytes"),
       0},
      {"blank, empty and CRLF lines",
       {},
       "encode -",
       " \t\r\n\nab\r\nd:",
       "\n\n101\n\n",
       message("note: websites that will not decode as read: 1 lost a start pattern, 0 lost invalid bytes"),
       0},
      {"invalid bytes are skipped",
       {},
       "encode",
       "aXb\nX\n",
       "10011\n\n",
       message("-:1: invalid character \"X\"") + message("-:2: invalid character \"X\"") +
           message(
               "note: websites that will not decode as read: 0 lost a start pattern, 2 lost invalid bytes"),
       1},
      {"a token without a code empties its line",
       {{"map_varicodes.txt", "1 <a>\n11 <b>\n"}},
       "encode",
       "ca\nab\ncX\n",
       "\n\n\n",
       message("-:1: no code for \"<c>\"") + message("-:2: no code for \"<ab>\"") +
           message("-:3: no code for \"<c>\"") + message("-:3: invalid character \"X\"") +
           message(
               "note: websites that will not decode as read: 0 lost a start pattern, 1 lost invalid bytes"),
       1},
      {"files in order, each with its own line numbers",
       {{"one.txt", "a\nX\n"}, {"two.txt", "X"}},
       "encode one.txt missing.txt - two.txt",
       "bX\n",
       "1\n\n11\n\n",
       message("one.txt:2: invalid character \"X\"") +
           message("cannot read \"missing.txt\": No such file or directory") +
           message("-:1: invalid character \"X\"") + message("two.txt:1: invalid character \"X\"") +
           message(
               "note: websites that will not decode as read: 0 lost a start pattern, 3 lost invalid bytes"),
       1},
      {"decode", {}, "decode", "110100101100101\n\n1001\n", "abc.cab\n\naa\n", "", 0},
      {"lines that do not decode",
       {},
       "decode",
       "1\r\n01\n10\n10001\n1001111111\n12\n1\n",
       "\n\n\n\n\n\na\n",
       message("-:1: invalid character \"\r\"") + message("-:2: begins with \"0\"") +
           message("-:3: ends with \"0\"") + message("-:4: holds \"000\"") +
           message("-:5: no pattern for the code word \"1111111\"") + message("-:6: invalid character \"2\""),
       1},
      {"no code map",
       {{"map_varicodes.txt", "<none>"}},
       "encode",
       "a\n",
       "",
       message("cannot read \"map_varicodes.txt\": No such file or directory"),
       1},
      {"a code map that cannot be read",
       {{"map_varicodes.txt", "<dir>"}},
       "decode",
       "1\n",
       "",
       message("cannot read \"map_varicodes.txt\": Is a directory"),
       1},
      {"a definition file that cannot be read",
       {{"patterns_start.txt", "<dir>"}},
       "encode",
       "a\n",
       "",
       message("cannot read \"patterns_start.txt\": Is a directory"),
       1},
      {"a missing definition file reads as empty",
       {{"patterns_start.txt", "<none>"}},
       "encode",
       "ab\n",
       "101\n",
       message("note: \"patterns_start.txt\" does not exist and reads as empty"),
       0},
      // The definitions are moved to sub/ for it.
      {"-C DIR", {}, "-C sub decode", "101\n", "ab\n", "", 0},
      {"no command",
       {},
       "",
       "",
       "",
       message("a command is needed: encode, decode, report, suggest or chars") + usage_hint,
       2},
      {"unknown command", {}, "code a", "", "", message("unknown command \"code\"") + usage_hint, 2},
      {"report takes no file", {}, "report x", "", "", message("unexpected argument \"x\"") + usage_hint, 2},
      {"unknown option", {}, "encode -q", "a\n", "", message("unrecognized option \"-q\"") + usage_hint, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Scratch s;
    make_scratch(s, "varicode");
    std::map<std::string, std::string> files = definitions;
    for (const auto& [name, bytes] : row.files) files[name] = bytes;
    for (const auto& [name, bytes] : files) {
      if (bytes == "<dir>") fs::create_directory(s.dir / name);
      if (bytes == "<none>" || bytes == "<dir>") continue;
      put_file(s, name, bytes);
    }
    if (row.args.starts_with("-C")) {
      fs::create_directory(s.dir / "sub");
      for (const auto& [name, bytes] : definitions) fs::rename(s.dir / name, s.dir / "sub" / name);
    }
    const RunResult r = run_with_input(s, varicode, row.args, row.input);
    EXPECT_EQ(row.out, r.out);
    EXPECT_EQ(row.err, r.err);
    EXPECT_EQ(row.status, r.status);
  }
}

// The shipped example, counted by patterntally and coded by bitladder: the
// report agrees with both and with the lines that varicode encode writes.
TEST(VaricodeCommand, ReportOfTheShippedExample) {
  Scratch s;
  make_scratch(s, "varicode-example");
  for (const char* name :
       {"websites.txt", "patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, s.dir / name);
  }
  const RunResult tally = run_in(s, patterntally);
  ASSERT_EQ(0, tally.status);
  ASSERT_EQ(0, run_in(s, bitladder).status);
  std::uint64_t tokens = 0;
  std::istringstream counts(get_file(s, "patterns_and_frequencies.txt"));
  for (std::string line; std::getline(counts, line);) tokens += std::stoull(line.substr(0, line.find('\t')));
  // Each byte that patterntally reports, encode reports on the same line:
  // - Invalid character "C" in line N ("...") ...
  std::uint64_t invalid = 0;
  std::string expected_messages;
  std::istringstream tally_lines(tally.out);
  std::string last_number;
  std::uint64_t invalid_lines = 0;
  for (std::string line; std::getline(tally_lines, line); ++invalid) {
    const std::size_t number = line.find(" in line ") + 9;
    const std::string line_number = line.substr(number, line.find(' ', number) - number);
    invalid_lines += line_number != last_number ? 1 : 0;
    last_number = line_number;
    expected_messages +=
        "varicode: websites.txt:" + line_number + ": invalid character \"" + line[21] + "\"\n";
  }
  ASSERT_GT(invalid, 0u);
  // Then how many websites lose a start pattern or invalid bytes.
  std::vector<std::string> starts;
  std::istringstream start_lines(get_file(s, "patterns_start.txt"));
  for (std::string line; std::getline(start_lines, line);)
    starts.push_back(line.substr(1, line.rfind('>') - 1));
  std::uint64_t losing_start = 0;
  std::istringstream websites(get_file(s, "websites.txt"));
  for (std::string line; std::getline(websites, line);) {
    line.erase(0, line.find_first_not_of(" \t\r"));
    losing_start += std::any_of(starts.begin(), starts.end(),
                                [&](const std::string& p) { return !p.empty() && line.starts_with(p); })
                        ? 1
                        : 0;
  }
  expected_messages +=
      "varicode: note: websites that will not decode as read: " + std::to_string(losing_start) +
      " lost a start pattern, " + std::to_string(invalid_lines) + " lost invalid bytes\n";

  const RunResult encoded = run_with_input(s, varicode, "encode websites.txt", "");
  EXPECT_EQ(1, encoded.status);
  EXPECT_EQ(expected_messages, encoded.err);
  for (const char* threads : {"-j 1", "-j 2", "--threads=5"}) {  // the lines are cut among the threads
    const RunResult again = run_with_input(s, varicode, std::string(threads) + " encode websites.txt", "");
    EXPECT_EQ(encoded.out, again.out) << threads;
    EXPECT_EQ(encoded.err, again.err) << threads;
  }
  std::uint64_t lines = 0;
  std::uint64_t bits = 0;
  std::istringstream code_lines(encoded.out);
  for (std::string line; std::getline(code_lines, line); ++lines) bits += line.size();

  const RunResult report = run_with_input(s, varicode, "report", "");
  EXPECT_EQ("", report.err);
  std::map<std::string, std::string> figures;
  std::istringstream report_lines(report.out);
  for (std::string line; std::getline(report_lines, line) && !line.empty();) {
    figures[line.substr(0, line.find(": "))] = line.substr(line.find(": ") + 2);
  }
  EXPECT_EQ(std::to_string(lines), figures["websites"]);
  EXPECT_EQ(std::to_string(tokens), figures["tokens"]);
  EXPECT_EQ(std::to_string(invalid), figures["skipped bytes"]);
  EXPECT_EQ(std::to_string(bits), figures["bits"]);
  // The bounds lie below the code, the entropy below the prefix code.
  const double entropy = std::stod(figures["entropy bits per website"]);
  const double optimal = std::stod(figures["optimal prefix code bits per website"]);
  EXPECT_LT(entropy, optimal);
  EXPECT_LT(optimal, std::stod(figures["bits per website"]));
  // The table: a header and the 20 costliest patterns.
  const std::string table = report.out.substr(report.out.find("\n\n") + 2);
  EXPECT_TRUE(table.starts_with("pattern  count  code length  bits  share\n")) << table;
  EXPECT_EQ(21, std::count(table.begin(), table.end(), '\n'));
}

// One recurrent pattern of a megabyte, in an address space of 400 MB: the
// commands keep a few words per node of its trie, not each node's text (a
// megabyte squared). A line one byte short of it pops a node a million deep,
// token by token. The address sanitizer needs terabytes: no limit there.
TEST(VaricodeCommand, LongPatternInLittleMemory) {
  std::string pattern(std::size_t{1} << 20, ' ');
  std::uint32_t x = 1;
  for (char& c : pattern) {
    x = x * 1103515245u + 12345u;
    c = "abcd"[x >> 30];
  }
  const std::map<char, std::string> code = {{'a', "1"}, {'b', "11"}, {'c', "101"}, {'d', "111"}};
  const std::string shorter = pattern.substr(0, pattern.size() - 1);
  std::string shorter_code;
  for (const char c : shorter) shorter_code += (shorter_code.empty() ? "" : "00") + code.at(c);
  Scratch s;
  make_scratch(s, "varicode-long");
  put_file(s, "patterns_valid_chars.txt", "<a>\n<b>\n<c>\n<d>\n");
  put_file(s, "patterns_recurrent.txt", "<" + pattern + ">\n");
  put_file(s, "patterns_start.txt", "");
  put_file(s, "map_varicodes.txt", "1 <a>\n11 <b>\n101 <c>\n111 <d>\n1011 <" + pattern + ">\n");
  const std::string lines = pattern + "\n" + shorter + "\n" + pattern + pattern + "\n";
  put_file(s, "websites.txt", lines);
  put_file(s, "sample.txt", "abcd\nabcd\nabdc\n");
#ifdef UNDER_ADDRESS_SANITIZER
  const std::string limit = "ulimit -c 0 && exec ";
#else
  const std::string limit = "ulimit -c 0 && ulimit -v 400000 && exec ";
#endif
  const RunResult encoded = run_in(s, varicode, ">codes.txt", limit, " -j 1 encode websites.txt");
  EXPECT_EQ("", encoded.err);
  ASSERT_EQ(0, encoded.status);
  EXPECT_TRUE(get_file(s, "codes.txt") == "1011\n" + shorter_code + "\n1011001011\n");
  const RunResult decoded = run_in(s, varicode, ">decoded.txt", limit, " decode codes.txt");
  EXPECT_EQ("", decoded.err);
  EXPECT_EQ(0, decoded.status);
  EXPECT_TRUE(get_file(s, "decoded.txt") == lines);
  const RunResult report = run_in(s, varicode, ">/dev/null", limit, " report");
  EXPECT_EQ("", report.err);
  EXPECT_EQ(0, report.status);
  const RunResult suggested = run_in(s, varicode, "", limit, " suggest 2 sample.txt");
  EXPECT_EQ(0, suggested.status);
  EXPECT_NE(std::string::npos, suggested.err.find(" with patterns_recurrent.txt (1 patterns)\n"))
      << suggested.err;
}
