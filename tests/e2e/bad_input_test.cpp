// Bad input for patterntally and bitladder: odd bytes, degenerate and huge files, and
// files in the way of inputs and outputs. Every case checks standard output,
// standard error, the exit status and every output file byte for byte, and
// that nothing else appeared in the working directory. Run them alone with
// --gtest_filter='BadInput*' or ctest -R BadInput.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Put in place of a file's bytes: what stands there instead. The process's
// own memory, read from address 0, fails at the first read.
const std::string a_directory = "\x01(a directory)", full_device = "\x01(a link to /dev/full)",
                  link_loop = "\x01(a link to itself)", own_memory = "\x01(a link to /proc/self/mem)",
                  no_permission = "\x01(mode 000)";
const std::string is_a_directory = std::strerror(EISDIR), no_space = std::strerror(ENOSPC);

// Both patterntally outputs for a count report: the ranked pattern file is
// the report without its counts.
Files tally_outputs(const std::string& report) {
  std::string ranked;
  for (std::size_t at = 0; at < report.size();) {
    const std::size_t tab = report.find('\t', at), end = report.find('\n', tab);
    ranked += report.substr(tab + 1, end - tab);
    at = end + 1;
  }
  return {{count_report_file, report}, {ranked_file, ranked}};
}

// A count report: higher count first, then shorter, then lower bytes.
std::string report_of(const std::map<std::string, std::int64_t>& counts) {
  std::vector<std::pair<std::string, std::int64_t>> ranked(counts.begin(), counts.end());
  std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second > b.second;
    if (a.first.size() != b.first.size()) return a.first.size() < b.first.size();
    return a.first < b.first;
  });
  std::string report;
  for (const auto& [pattern, count] : ranked) report += std::to_string(count) + "\t<" + pattern + ">\n";
  return report;
}

// bitladder's code map and summary for distinct, non-empty, trimmed lines.
// The codes come by generations: generation L+1 is "10" before each code of
// generation L-1, then "1" before each code of generation L.
std::pair<std::string, std::string> coded(const std::vector<std::string>& lines) {
  std::vector<std::string> older, newer = {"1"}, all = {"1"};
  while (all.size() < lines.size()) {
    std::vector<std::string> next;
    if (older.empty()) next = {"11"};
    for (const std::string& c : older) next.push_back("10" + c);
    for (const std::string& c : older.empty() ? older : newer) next.push_back("1" + c);
    all.insert(all.end(), next.begin(), next.end());
    older = std::exchange(newer, std::move(next));
  }
  std::string map;
  for (std::size_t i = 0; i < lines.size(); ++i) map += all[i] + " " + lines[i] + "\n";
  return {map, codes_summary(lines.size(), lines.empty() ? 0 : all[lines.size() - 1].size())};
}

// Compares bytes and, on a difference, shows where instead of megabytes.
::testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  auto near = [at](const std::string& s) {
    return ::testing::PrintToString(s.substr(std::min(s.size(), at > 20 ? at - 20 : 0), 60));
  };
  return ::testing::AssertionFailure()
         << expected.size() << " bytes expected, " << actual.size() << " found; first difference at byte "
         << at << ": expected " << near(expected) << ", found " << near(actual);
}

struct Expected {
  std::string what;
  Files inputs;  // laid out before the run, in place of outputs too
  int status = 0;
  std::string out, err;  // standard output (unless redirected) and error
  Files outputs;         // every output file the run leaves, with its bytes
};

// Runs `program` on `run.inputs`; `redirect` sends its standard output
// elsewhere, `read_only` takes the write permission off the directory, and
// `arguments` follow the program. A file of mode 000, or a read-only
// directory, holds for root too when root runs the program as another user,
// who may write the other files.
void check(const std::string& program, const Expected& run, const std::string& redirect = "",
           bool read_only = false, const std::string& arguments = "") {
  Scratch s;
  make_scratch(s, "bad-input");
  std::string as_other_user;
  for (const auto& [name, bytes] : run.inputs) {
    if (bytes == no_permission) {
      put_file(s, name, "<a>\n");
      fs::permissions(s.dir / name, fs::perms::none);
      if (::geteuid() == 0) as_other_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    } else if (bytes == a_directory) {
      fs::create_directory(s.dir / name);
    } else if (bytes == full_device || bytes == own_memory) {
      fs::create_symlink(bytes == full_device ? "/dev/full" : "/proc/self/mem", s.dir / name);
    } else if (bytes == link_loop) {
      fs::create_symlink(name, s.dir / name);
    } else {
      put_file(s, name, bytes);
    }
  }
  if (read_only && ::geteuid() == 0) as_other_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (!as_other_user.empty()) {
    fs::permissions(s.dir, read_only ? fs::perms(0555) : fs::perms::all);
    for (const auto& [name, bytes] : run.inputs) {
      if (bytes != no_permission) fs::permissions(s.dir / name, fs::perms(0666));
    }
  } else if (read_only) {
    fs::permissions(s.dir, fs::perms::owner_write, fs::perm_options::remove);
  }
  const RunResult r = run_in(s, program, redirect, as_other_user, arguments);
  EXPECT_EQ(run.status, r.status) << run.what;
  EXPECT_TRUE(same_bytes(run.err, r.err)) << run.what << ": standard error";
  if (redirect.empty()) {
    EXPECT_TRUE(same_bytes(run.out, r.out)) << run.what << ": standard output";
  }
  std::set<std::string> names;
  for (const auto& [name, bytes] : run.inputs) names.insert(name);
  for (const auto& [name, bytes] : run.outputs) {
    names.insert(name);
    EXPECT_TRUE(same_bytes(bytes, get_file(s, name))) << run.what << ": " << name;
  }
  std::string listing;
  for (const std::string& name : names) listing += name + "\n";
  EXPECT_EQ(listing, list_files(s)) << run.what;
}

Files with(Files files, const std::string& name, const std::string& bytes) {
  files[name] = bytes;
  return files;
}

}  // namespace

TEST(BadInput, PatterntallyOddBytes) {
  std::string high_valid, high_line, high_report;
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char c = static_cast<char>(b);
    high_line += c;
    if (b < 0xFF) high_valid += "<"s + c + ">\n";
    if (b > 0x81 && b < 0xFF) high_report += "1\t<"s + c + ">\n";
  }
  const std::vector<Expected> runs = {
      {"zero bytes are ordinary bytes",
       {{valid_chars_file, "<\0>\n<a>\n<b>\n<c>\n\0\n"s},
        {recurrent_file, "<a\0c>\n<a\0b>\n<a\0#>\n"s},
        {start_file, "<\0\0>\n"s},
        {corpus_file, "\0\0a\0b\0c\na\0c\n"s}},
       0,
       ignored_line(no_start, 5, "\0"s, valid_chars_file) +
           ignored_line(bad_char, 3, "a\0#"s, recurrent_file),
       "",
       tally_outputs("1\t<\0>\n1\t<c>\n1\t<a\0b>\n1\t<a\0c>\n0\t<a>\n0\t<b>\n"s)},
      {"bytes 0x80 to 0xFF",
       {{valid_chars_file, high_valid + "\xff\xfe\n"},
        {recurrent_file, "<\x80\x81>\n<\x80\xff>\n"},
        {start_file, ""},
        {corpus_file, high_line + "\n"}},
       0,
       ignored_line(no_start, 128, "\xff\xfe", valid_chars_file) +
           ignored_line(bad_char, 2, "\x80\xff", recurrent_file) + invalid_char('\xff', 1, high_line),
       "",
       tally_outputs(high_report + "1\t<\x80\x81>\n0\t<\x80>\n0\t<\x81>\n")},
      {"lone carriage returns",
       {{valid_chars_file, "<a>\r\n\r\n<\r>\n"},
        {recurrent_file, "\r"},
        {start_file, "<\ra>\n"},
        {corpus_file, "\r\n\r\r\na\rb\r\r\n\ra\n\r"}},
       0,
       ignored_line(no_start, 2, "\r", valid_chars_file) + ignored_line(no_start, 1, "\r", recurrent_file) +
           invalid_char('b', 3, "a\rb"),
       "",
       tally_outputs("2\t<a>\n1\t<\r>\n")},
      {"only line feeds",
       {{valid_chars_file, "\n\n\n"},
        {recurrent_file, "\n\n"},
        {start_file, "\n"},
        {corpus_file, "\n\n\n\n"}},
       0,
       ignored_line(no_start, 1, "", valid_chars_file) + ignored_line(no_start, 2, "", valid_chars_file) +
           ignored_line(no_start, 3, "", valid_chars_file) + ignored_line(no_start, 1, "", recurrent_file) +
           ignored_line(no_start, 2, "", recurrent_file) + ignored_line(no_start, 1, "", start_file),
       "",
       tally_outputs("")},
      {"no final line feed anywhere",
       {{valid_chars_file, "<a>\n<b>\n<:>"},
        {recurrent_file, "<ab>"},
        {start_file, "<b:>"},
        {corpus_file, "b:ab\nba"}},
       0,
       "",
       "",
       tally_outputs("1\t<a>\n1\t<b>\n1\t<ab>\n0\t<:>\n")},
      {"every input empty",
       {{valid_chars_file, ""}, {recurrent_file, ""}, {start_file, ""}, {corpus_file, ""}},
       0,
       "",
       "",
       tally_outputs("")},
      {"no input at all",
       {},
       0,
       "",
       missing_note("patterntally", corpus_file) + missing_note("patterntally", valid_chars_file) +
           missing_note("patterntally", recurrent_file) + missing_note("patterntally", start_file),
       tally_outputs("")},
  };
  for (const Expected& run : runs) check(patterntally, run);
}

TEST(BadInput, BitladderOddBytes) {
  std::string high_input;
  std::vector<std::string> high_lines;
  for (int b = 0x80; b <= 0xFF; ++b) {
    high_lines.emplace_back(1, static_cast<char>(b));
    high_input += high_lines.back() + "\n";
  }
  const auto [high_map, high_summary] = coded(high_lines);
  const std::vector<Expected> runs = {
      {"zero bytes are ordinary bytes",
       {{ranked_file, "<\0>\n<\0\0>\n\0\n<\0>\n\0<a>\n<\0b>\n"s}},
       0,
       repeated("<\0>"s) + codes_summary(5, 4),
       "",
       {{code_map_file, "1 <\0>\n11 <\0\0>\n101 \0\n111 \0<a>\n1011 <\0b>\n"s}}},
      {"bytes 0x80 to 0xFF",
       {{ranked_file, high_input + "\xff\n"}},
       0,
       repeated("\xff") + high_summary,
       "",
       {{code_map_file, high_map}}},
      {"lone carriage returns",
       {{ranked_file, "\r\n\r\r\n<a>\r\n\r<a>\na\rb\n\r"}},
       0,
       repeated("") + repeated("") + repeated("<a>") + repeated("") + codes_summary(2, 2),
       "",
       {{code_map_file, "1 <a>\n11 a\rb\n"}}},
      {"only line feeds",
       {{ranked_file, "\n\n\n"}},
       0,
       repeated("") + repeated("") + repeated("") + codes_summary(0, 0),
       "",
       {{code_map_file, ""}}},
      {"no final line feed",
       {{ranked_file, "<a>\n<b>"}},
       0,
       codes_summary(2, 2),
       "",
       {{code_map_file, "1 <a>\n11 <b>\n"}}},
      {"empty input", {{ranked_file, ""}}, 0, codes_summary(0, 0), "", {{code_map_file, ""}}},
      {"no input", {}, 0, codes_summary(0, 0), missing_note("bitladder", ranked_file), {{code_map_file, ""}}},
  };
  for (const Expected& run : runs) check(bitladder, run);
}

// A single line of 64 MiB with an invalid character in the middle, so that
// its message quotes all of it.
TEST(BadInput, LineOf64MiB) {
  const std::size_t half = std::size_t{16} << 20;  // "ab" this often on each side
  std::string line;
  line.reserve(4 * half + 1);
  for (std::size_t i = 0; i < 2 * half; ++i) line += i == half ? "#ab" : "ab";
  check(patterntally, {"64 MiB corpus line, no final line feed",
                       {{valid_chars_file, "<a>\n<b>\n"}, {recurrent_file, "<ab>\n"}, {corpus_file, line}},
                       0,
                       invalid_char('#', 1, line),
                       missing_note("patterntally", start_file),
                       tally_outputs(std::to_string(2 * half) + "\t<ab>\n0\t<a>\n0\t<b>\n")});
  const std::string key = "<" + line + ">";
  check(bitladder, {"64 MiB line, then the same with blanks around it",
                    {{ranked_file, key + "\n<b>\n \t" + key + "\r\n"}},
                    0,
                    repeated(key) + codes_summary(2, 2),
                    "",
                    {{code_map_file, "1 " + key + "\n11 <b>\n"}}});
}

// Definition files and a ranked pattern file of 100,000 lines each.
TEST(BadInput, HundredThousandLineFiles) {
  const std::size_t lines = 100'000;
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789.:";
  auto name = [](std::size_t i) {  // four letters, distinct for i < 26^4
    std::string n(4, 'a');
    for (std::size_t k = 4; k-- > 0; i /= 26) n[k] = static_cast<char>('a' + i % 26);
    return n;
  };
  auto refused = [](std::size_t i) { return i % 10'000 == 9'999; };
  std::string valid, recurrent, start, corpus, out;
  std::map<std::string, std::int64_t> counts;
  for (char c : alphabet) counts[std::string(1, c)] = 0;
  for (std::size_t n = 1; n <= lines; ++n) {  // valid characters, mostly repeats
    const std::string bad = (n % 1000 == 0 ? "no bracket " : "<") + std::to_string(n);
    const bool ok = n % 500 != 0;
    valid += (ok ? "<"s + alphabet[n % alphabet.size()] + ">" : bad) + "\n";
    if (!ok) out += ignored_line(n % 1000 == 0 ? no_start : no_end, n, bad, valid_chars_file);
  }
  for (std::size_t i = 0; i < lines; ++i) {  // recurrent patterns, all of four letters
    recurrent += "<" + name(i) + (refused(i) ? "#>\n" : ">\n");
    if (refused(i)) out += ignored_line(bad_char, i + 1, name(i) + "#", recurrent_file);
    if (!refused(i)) counts[name(i)] = 0;
    start += "<s" + std::to_string(i) + ":>\n";
  }
  // Corpus: a start pattern, then whole recurrent patterns, taken as they
  // stand since all are of one length, then '.', and '#' in every hundredth.
  for (std::size_t k = 1; k <= 1000; ++k) {
    std::string line = "s" + std::to_string(k * 97 % lines) + ":";
    for (std::size_t i = k * 31; i < k * 31 + 21; i += 7) {
      if (refused(i)) continue;
      line += name(i);
      ++counts[name(i)];
    }
    line += ".";
    ++counts["."];
    if (k % 100 == 0) {
      line += "#";
      out += invalid_char('#', k, line);
    }
    corpus += line + "\n";
  }
  check(patterntally,
        {"100,000 lines in each definition file",
         {{valid_chars_file, valid}, {recurrent_file, recurrent}, {start_file, start}, {corpus_file, corpus}},
         0,
         out,
         "",
         tally_outputs(report_of(counts))});

  std::string ranked, messages;
  std::vector<std::string> distinct;
  for (std::size_t i = 0; i < lines; ++i) {  // every thousandth a repeat of the line before
    const std::string line = "<" + name(i % 1000 == 999 ? i - 1 : i) + ">";
    ranked += line + "\n";
    if (i % 1000 == 999) {
      messages += repeated(line);
    } else {
      distinct.push_back(line);
    }
  }
  const auto [map, tail] = coded(distinct);
  check(bitladder,
        {"100,000 lines", {{ranked_file, ranked}}, 0, messages + tail, "", {{code_map_file, map}}});
}

// Patterns of 1 MiB: a recurrent pattern matched twice and then nearly
// matched, a start pattern matched and nearly matched, a valid-character
// entry, and a line without its closing bracket.
TEST(BadInput, PatternsOf1MiB) {
  const std::size_t mib = std::size_t{1} << 20;
  const std::string recurrent = std::string(mib - 1, 'a') + "b", start(mib, 's'), entry(mib, 'v');
  const std::string unclosed = "<" + std::string(mib, 'a'), near_start = std::string(mib - 1, 's') + "x";
  check(patterntally, {"1 MiB patterns",
                       {{valid_chars_file, "<a>\n<b>\n<s>\n<" + entry + ">\n"},
                        {recurrent_file, unclosed + "\n<" + recurrent + ">\n"},
                        {start_file, "<" + start + ">\n"},
                        {corpus_file, recurrent + recurrent + std::string(mib - 1, 'a') + "\n" + start +
                                          "ab\n" + near_start + "\n"}},
                       0,
                       ignored_line(no_end, 1, unclosed, recurrent_file) + invalid_char('x', 3, near_start),
                       "",
                       tally_outputs(std::to_string(mib) + "\t<a>\n" + std::to_string(mib - 1) +
                                     "\t<s>\n2\t<" + recurrent + ">\n1\t<b>\n0\t<" + entry + ">\n")});
}

// An input that exists but cannot be read, a directory, a file without read
// permission, a loop of links or a file whose first read fails: reported, and
// the run stops before it reads anything else, with the earlier results as
// they were.
TEST(BadInput, DirectoryInPlaceOfInput) {
  const Files earlier = {{count_report_file, "9\t<earlier>\n"}, {ranked_file, "<earlier>\n"}};
  const Files inputs = {{valid_chars_file, "<a>\n<b>\n"},
                        {recurrent_file, "<ab>\n<a#>\n"},
                        {start_file, "<bb>\n"},
                        {corpus_file, "bbab#\na\n"}};
  Files seeded = inputs;
  seeded.insert(earlier.begin(), earlier.end());
  auto cannot_read = [](const std::string& program, const std::string& name, int error) {
    return program + ": cannot read \"" + name + "\": " + std::strerror(error) + "\n";
  };
  const std::string refused = ignored_line(bad_char, 2, "a#", recurrent_file);
  struct Run {
    Expected expected;
    std::string threads = " -j 1";
  };
  std::vector<Run> runs;
  for (const std::string name : {valid_chars_file, recurrent_file, start_file, corpus_file}) {
    runs.push_back({{name + ": a directory", with(seeded, name, a_directory), 1, "",
                     cannot_read("patterntally", name, EISDIR), earlier}});
  }
  for (const std::string name : {valid_chars_file, corpus_file}) {
    runs.push_back({{name + ": no permission", with(seeded, name, no_permission), 1, "",
                     cannot_read("patterntally", name, EACCES), earlier}});
  }
  runs.push_back({{"corpus: a loop of links", with(seeded, corpus_file, link_loop), 1, "",
                   cannot_read("patterntally", corpus_file, ELOOP), earlier}});
  for (const char* threads : {" -j 1", " -j 2"}) {
    runs.push_back({{"corpus: its first read fails", with(seeded, corpus_file, own_memory), 1, refused,
                     cannot_read("patterntally", corpus_file, EIO), earlier},
                    threads});
  }
  runs.push_back({{"nothing in the way", inputs, 0, refused + invalid_char('#', 1, "bbab#"), "",
                   tally_outputs("1\t<a>\n1\t<ab>\n0\t<b>\n")}});
  for (const Run& run : runs) check(patterntally, run.expected, "", false, run.threads);
  for (const auto& [what, error] :
       {std::pair{a_directory, EISDIR}, {own_memory, EIO}, {no_permission, EACCES}}) {
    check(bitladder, {"ranked patterns",
                      {{ranked_file, what}, {code_map_file, "1 <earlier>\n"}},
                      1,
                      "",
                      cannot_read("bitladder", ranked_file, error),
                      {{code_map_file, "1 <earlier>\n"}}});
  }
}

// A directory or a link to /dev/full in place of each output, and standard
// output on /dev/full: reported once, and everything else is complete but
// for the other report of patterntally, which is replaced only with both.
TEST(BadInput, UnwritableOutputs) {
  const Files inputs = {{valid_chars_file, "<a>\n<b>\n"},
                        {recurrent_file, "<ab>\n"},
                        {start_file, ""},
                        {corpus_file, "ab#\na\n"}};
  const std::string out = invalid_char('#', 1, "ab#");
  const Files outputs = tally_outputs("1\t<a>\n1\t<ab>\n0\t<b>\n");
  // The two reports go together: the one not blocked keeps its earlier bytes.
  for (const std::string blocked : {count_report_file, ranked_file}) {
    const std::string other = blocked == count_report_file ? ranked_file : count_report_file;
    for (const std::string& what : {a_directory, full_device}) {
      check(patterntally, {blocked + " blocked",
                           with(with(inputs, other, "earlier\n"), blocked, what),
                           1,
                           out,
                           "patterntally: cannot write \"" + blocked +
                               "\": " + (what == a_directory ? is_a_directory : no_space) + "\n",
                           {{other, "earlier\n"}}});
    }
  }
  check(patterntally,
        {"standard output full", inputs, 1, "",
         "patterntally: cannot write standard output: " + no_space + "\n", outputs},
        ">/dev/full");
  check(patterntally,
        {"standard output full, nothing written to it", with(inputs, corpus_file, "a\n"), 0, "", "",
         tally_outputs("1\t<a>\n0\t<b>\n0\t<ab>\n")},
        ">/dev/full");

  const Files input = {{ranked_file, "<a>\n<b>\n<a>\n"}};
  for (const std::string& what : {a_directory, full_device}) {
    check(bitladder, {"code map blocked",
                      with(input, code_map_file, what),
                      1,
                      repeated("<a>") + codes_summary(2, 2),
                      "bitladder: cannot write \"" + std::string(code_map_file) +
                          "\": " + (what == a_directory ? is_a_directory : no_space) + "\n",
                      {}});
  }
  check(bitladder,
        {"standard output full",
         input,
         1,
         "",
         "bitladder: cannot write standard output: " + no_space + "\n",
         {{code_map_file, "1 <a>\n11 <b>\n"}}},
        ">/dev/full");
}

// A directory without write permission: no output can be created. Root may
// write there all the same, so root runs the programs as another user.
TEST(BadInput, ReadOnlyDirectory) {
  const std::string denied = std::strerror(EACCES);
  check(patterntally,
        {"read-only directory",
         {{valid_chars_file, "<a>\n"}, {corpus_file, "a#\n"}},
         1,
         invalid_char('#', 1, "a#"),
         missing_note("patterntally", recurrent_file) + missing_note("patterntally", start_file) +
             "patterntally: cannot write \"" + std::string(count_report_file) + "\": " + denied +
             "\npatterntally: cannot write \"" + std::string(ranked_file) + "\": " + denied + "\n",
         {}},
        "", true);
  check(bitladder,
        {"read-only directory",
         {{ranked_file, "<a>\n"}},
         1,
         codes_summary(1, 1),
         "bitladder: cannot write \"" + std::string(code_map_file) + "\": " + denied + "\n",
         {}},
        "", true);
}
