#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

const std::string absent = "(absent)";  // leave the file out

// The ranked pattern file that goes with a count report: each line without its count.
std::string without_counts(const std::string& report) {
  std::string ranked;
  for (std::size_t at = 0; at < report.size();) {
    const std::size_t tab = report.find('\t', at);
    const std::size_t end = report.find('\n', at);
    ranked += report.substr(tab + 1, end - tab);
    at = end + 1;
  }
  return ranked;
}

void seed_present(const Scratch& s, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, bytes] : files) {
    if (bytes != absent) put_file(s, name, bytes);
  }
}

struct Case {
  const char* what;
  std::string valid, recurrent, start, corpus;
  std::string out, report;
};

}  // namespace

TEST(Patterntally, EdgeCases) {
  using namespace std::string_literals;
  const std::vector<Case> cases = {
      {"walk through a line", "<a>\n<b>\n<c>\n<d>\n<e>\n<x>\n<:>\n", "<cd>\n<cde>\n", "<ab:>\n",
       "  ab:cdecdx#\n",
       "- Invalid character \"#\" in line 1 (\"ab:cdecdx#\") in file \"websites.txt\": IGNORING CHARACTER\n",
       "1\t<x>\n1\t<cd>\n1\t<cde>\n0\t<:>\n0\t<a>\n0\t<b>\n0\t<c>\n0\t<d>\n0\t<e>\n"},
      {"blank lines count, \\v and \\f are not blanks", "<a>\n", "", "", "\n \t\r\n\va\f\n",
       invalid_char('\v', 3, "\va\f") + invalid_char('\f', 3, "\va\f"), "1\t<a>\n"},
      {"line numbers count every line, last line without LF", "<a>\n<b>\n", "", "", "a\n\nb#",
       invalid_char('#', 3, "b#"), "1\t<a>\n1\t<b>\n"},
      {"start patterns: whole line, longest first, after trimming", "<a>\n<b>\n<c>\n<d>\n", "",
       "<ab>\n<abc>\n", "ab\nabcd\n  abc \r\n", "", "1\t<d>\n0\t<a>\n0\t<b>\n0\t<c>\n"},
      {"empty valid list", "", "<ab>\n<q>\n", "<ab:>\n", "ab:q\n", invalid_char('q', 1, "ab:q"),
       "0\t<q>\n0\t<ab>\n"},
      {"multi-byte valid entry, raw bytes reported", "<a>\n<\xc3\xa9>\n", "", "", "a\xc3\xa9\n",
       invalid_char('\xc3', 1, "a\xc3\xa9") + invalid_char('\xa9', 1, "a\xc3\xa9"),
       "1\t<a>\n0\t<\xc3\xa9>\n"},
      {"message order valid, recurrent, start, corpus; CR kept", "<a>\r\nnob\r\n<b>\n", "<ab\r\n<a#>\n<ab>\n",
       ">x<\n<ab>\n", "ab#a\n",
       ignored_line("No starting character \"<\"", 2, "nob\r", "patterns_valid_chars.txt") +
           ignored_line("No ending character \">\"", 1, "<ab\r", "patterns_recurrent.txt") +
           ignored_line("Invalid character", 2, "a#", "patterns_recurrent.txt") +
           ignored_line("No ending character \">\"", 1, ">x<", "patterns_start.txt") +
           invalid_char('#', 1, "ab#a"),
       "1\t<a>\n0\t<b>\n0\t<ab>\n"},
      {"missing corpus lists every entry", "<a>\n<b>\n", "<ab>\n", absent, absent, "",
       "0\t<a>\n0\t<b>\n0\t<ab>\n"},
      {"no definitions: both files empty", absent, absent, absent, "a\n", invalid_char('a', 1, "a"), ""},
      {"equal counts: shorter first, then bytes; count before length", "<b>\n<a>\n<z>\n", "<ab>\n<zz>\n<a>\n",
       "", "ababababab\naaaaa\nbbbbb\nzzzzzz\n", "", "5\t<a>\n5\t<b>\n5\t<ab>\n3\t<zz>\n0\t<z>\n"},
      {"zero bytes are ordinary bytes", "<a>\n<b>\n<\0>\n"s, "<a\0b>\n"s, "", "a\0ba\0c\n"s,
       invalid_char('c', 1, "a\0ba\0c"s), "1\t<\0>\n1\t<a>\n1\t<a\0b>\n0\t<b>\n"s},
      {"brackets inside patterns", "<<>\n<>>\n", "<<>>\n", "", "<><>>\n", "", "2\t<<>>\n1\t<>>\n0\t<<>\n"},
  };
  for (const Case& c : cases) {
    Scratch s;
    make_scratch(s, "edge");
    const std::vector<std::pair<std::string, std::string>> inputs = {{corpus_file, c.corpus},
                                                                     {valid_chars_file, c.valid},
                                                                     {recurrent_file, c.recurrent},
                                                                     {start_file, c.start}};
    seed_present(s, inputs);
    std::string notes;  // a missing file reads as empty, and is named
    for (const auto& [name, bytes] : inputs) {
      if (bytes == absent) notes += missing_note("patterntally", name);
    }
    const RunResult r = run_in(s, patterntally);
    EXPECT_EQ(0, r.status) << c.what;
    EXPECT_EQ(notes, r.err) << c.what;
    EXPECT_EQ(c.out, r.out) << c.what;
    EXPECT_EQ(c.report, get_file(s, "patterns_and_frequencies.txt")) << c.what;
    EXPECT_EQ(without_counts(c.report), get_file(s, "patterns_ordered_by_frequency.txt")) << c.what;
  }
}

TEST(Patterntally, ReportsFailuresAndCarriesOn) {
  namespace fs = std::filesystem;
  const std::string full = std::strerror(ENOSPC);
  const std::string is_dir = std::strerror(EISDIR);
  const std::string report = "1\t<a>\n1\t<ab>\n0\t<b>\n";
  const std::string message = invalid_char('#', 1, "ab#");
  struct Row {
    std::string blocked;  // made a directory, or a link to /dev/full
    bool to_full;
    std::string redirect;  // of standard output
    std::string err, out, report;
  };
  // The two reports are written together or not at all; an input that
  // cannot be read stops the run before anything is read.
  const std::string none = "<missing>";
  const std::vector<Row> rows = {
      {"patterns_and_frequencies.txt", false, "", "cannot write \"patterns_and_frequencies.txt\": " + is_dir,
       message, none},
      {"patterns_ordered_by_frequency.txt", false, "",
       "cannot write \"patterns_ordered_by_frequency.txt\": " + is_dir, message, none},
      {"patterns_and_frequencies.txt", true, "", "cannot write \"patterns_and_frequencies.txt\": " + full,
       message, none},
      {"patterns_ordered_by_frequency.txt", true, "",
       "cannot write \"patterns_ordered_by_frequency.txt\": " + full, message, none},
      {"websites.txt", false, "", "cannot read \"websites.txt\": " + is_dir, "", none},
      {"patterns_recurrent.txt", false, "", "cannot read \"patterns_recurrent.txt\": " + is_dir, "", none},
      {"", false, ">/dev/full", "cannot write standard output: " + full, "", report},
  };
  for (const Row& row : rows) {
    Scratch s;
    make_scratch(s, "failure");
    put_files(s, {{valid_chars_file, "<a>\n<b>\n"},
                  {recurrent_file, "<ab>\n"},
                  {start_file, ""},
                  {corpus_file, "ab#\na\n"}});
    if (!row.blocked.empty()) {
      fs::remove(s.dir / row.blocked);
      if (row.to_full) {
        fs::create_symlink("/dev/full", s.dir / row.blocked);
      } else {
        fs::create_directory(s.dir / row.blocked);
      }
    }
    const RunResult r = run_in(s, patterntally, row.redirect);
    EXPECT_EQ(1, r.status) << row.err;
    EXPECT_EQ("patterntally: " + row.err + "\n", r.err);
    EXPECT_EQ(row.out, r.out) << row.err;
    if (row.blocked != "patterns_and_frequencies.txt") {
      EXPECT_EQ(row.report, get_file(s, "patterns_and_frequencies.txt")) << row.err;
    }
    if (row.blocked != "patterns_ordered_by_frequency.txt") {
      EXPECT_EQ(row.report == none ? none : without_counts(row.report),
                get_file(s, "patterns_ordered_by_frequency.txt"))
          << row.err;
    }
  }
}
